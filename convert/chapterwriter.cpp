#include "chapterwriter.h"

#include "codepage.h"

#include <QIODevice>
#include <QLocale>
#include <QStringEncoder>
#include <QSysInfo>
#include <QXmlStreamWriter>

#include <algorithm>
#include <limits>

namespace Tessaline {

namespace {

constexpr qsizetype kFlushChars = 1 << 16; // text encoded and written at a time

// CHAPTERnn=HH:MM:SS.mmm and CHAPTERnnNAME=title, lines joined by CR LF, no line end after the
// last line.
class SimpleChapterWriter : public ChapterWriter
{
public:
    explicit SimpleChapterWriter(EncodedOutput &output) : m_output(output) { }

    void beginChapter(qsizetype number, const ChapterStart &start) override
    {
        QString &text = m_output.text();
        if (number > 1)
            text += u"\r\n";
        text += u"CHAPTER";
        appendPadded(text, number, 2);
        text += u'=';
        if (start.milliseconds)
            appendChapterTime(text, *start.milliseconds);
        else
            text += start.text;
        text += u"\r\nCHAPTER";
        appendPadded(text, number, 2);
        text += u"NAME=";
    }

    void appendTitle(QStringView piece) override
    {
        m_output.text() += piece;
        m_output.flushIfFull();
    }

    void endChapter() override { m_output.flushIfFull(); }

    bool finish() override { return m_output.finish(); }

private:
    EncodedOutput &m_output;
};

// HH:MM:SS.nnnnnnnnn, as Matroska chapter XML gives times; hours grow past two digits.
QString nanosecondTimeText(qint64 milliseconds)
{
    return chapterTimeText(milliseconds) + u"000000";
}

// Matroska chapter XML with one edition and one atom a chapter, without UIDs (mkvmerge makes
// them), so that the same input gives the same bytes.
class MatroskaChapterWriter : public ChapterWriter
{
public:
    MatroskaChapterWriter(EncodedOutput &output, const QString &language)
        : m_output(output), m_xml(&output.text()),
          m_ietf(canonicalLanguageTag(language).value_or(QStringLiteral("und")))
    {
        const QLocale::Language known = QLocale::codeToLanguage(m_ietf.section(u'-', 0, 0));
        m_iso639 = QLocale::languageToCode(known, QLocale::ISO639Part2B);
        if (m_iso639.isEmpty())
            m_iso639 = QStringLiteral("und");
        m_xml.setAutoFormatting(true);
        m_xml.setAutoFormattingIndent(2);
        m_xml.writeStartDocument();
        m_xml.writeDTD(QStringLiteral("<!DOCTYPE Chapters SYSTEM \"matroskachapters.dtd\">"));
        m_xml.writeStartElement(QStringLiteral("Chapters"));
        m_xml.writeStartElement(QStringLiteral("EditionEntry"));
    }

    void beginChapter(qsizetype, const ChapterStart &start) override
    {
        m_xml.writeStartElement(QStringLiteral("ChapterAtom"));
        m_xml.writeTextElement(QStringLiteral("ChapterTimeStart"), nanosecondTimeText(*start.milliseconds));
        m_xml.writeStartElement(QStringLiteral("ChapterDisplay"));
        m_xml.writeStartElement(QStringLiteral("ChapterString"));
    }

    void appendTitle(QStringView piece) override
    {
        // XML 1.0 has no way to write control characters other than tab.
        const auto isControl = [](QChar c) { return c.unicode() < 0x20 && c != u'\t'; };
        if (std::none_of(piece.begin(), piece.end(), isControl)) {
            m_xml.writeCharacters(piece.toString());
        } else {
            QString text = piece.toString();
            std::replace_if(text.begin(), text.end(), isControl, QChar(QChar::ReplacementCharacter));
            m_xml.writeCharacters(text);
        }
        m_output.flushIfFull();
    }

    void endChapter() override
    {
        m_xml.writeEndElement(); // ChapterString
        m_xml.writeTextElement(QStringLiteral("ChapterLanguage"), m_iso639);
        m_xml.writeTextElement(QStringLiteral("ChapLanguageIETF"), m_ietf);
        m_xml.writeEndElement(); // ChapterDisplay
        m_xml.writeEndElement(); // ChapterAtom
        m_output.flushIfFull();
    }

    bool finish() override
    {
        m_xml.writeEndDocument();
        return m_output.finish();
    }

private:
    EncodedOutput &m_output;
    QXmlStreamWriter m_xml;
    QString m_ietf;
    QString m_iso639;
};

// ffmpeg's metadata file: a [CHAPTER] section a chapter, in milliseconds. A chapter ends where
// the next starts, so each is written once the next one's start is known. ffmpeg refuses a
// chapter that ends before it starts: one followed by an earlier chapter, and the last, end
// where they start (for the last, ffmpeg's MP4 muxer then runs it to the end of the file).
class FfmetadataChapterWriter : public ChapterWriter
{
public:
    explicit FfmetadataChapterWriter(EncodedOutput &output) : m_output(output) { m_output.text() += u";FFMETADATA1\n"; }

    void beginChapter(qsizetype, const ChapterStart &start) override
    {
        writePending(*start.milliseconds);
        m_start = *start.milliseconds;
        m_pending = true;
    }

    void appendTitle(QStringView piece) override
    {
        // Escaped as ffmpeg's metadata format asks; line ends cannot occur in a title.
        const auto isSpecial = [](QChar c) { return c == u'=' || c == u';' || c == u'#' || c == u'\\'; };
        for (auto special = std::find_if(piece.begin(), piece.end(), isSpecial); special != piece.end();
             special = std::find_if(piece.begin(), piece.end(), isSpecial)) {
            m_title += piece.first(special - piece.begin()) + u'\\' + *special;
            piece = piece.sliced(special - piece.begin() + 1);
        }
        m_title += piece;
    }

    void endChapter() override { }

    bool finish() override
    {
        writePending(m_start);
        return m_output.finish();
    }

private:
    void writePending(qint64 nextStart)
    {
        if (!m_pending)
            return;
        QString &text = m_output.text();
        text += u"[CHAPTER]\nTIMEBASE=1/1000\nSTART=";
        appendPadded(text, m_start, 1);
        text += u"\nEND=";
        appendPadded(text, std::max(m_start, nextStart), 1);
        text += u"\ntitle=";
        text += m_title;
        text += u'\n';
        m_title.resize(0);
        m_output.flushIfFull();
    }

    EncodedOutput &m_output;
    qint64 m_start = 0; // ms
    QString m_title;
    bool m_pending = false;
};

} // namespace

std::optional<QString> canonicalLanguageTag(QStringView tag)
{
    const QList<QStringView> parts = tag.split(u'-');
    const QString language = parts.front().toString().toLower();
    if (language == u"und" && parts.size() == 1)
        return language;
    const QLocale::Language known = QLocale::codeToLanguage(language);
    if (parts.size() > 3 || language.size() < 2 || language.size() > 3 || known == QLocale::AnyLanguage)
        return std::nullopt;
    QString canonical = QLocale::languageToCode(known, QLocale::ISO639Part1);
    if (canonical.isEmpty())
        canonical = language;
    for (qsizetype i = 1; i < parts.size(); ++i) {
        const QStringView part = parts[i];
        const bool isScript = i == 1 && part.size() == 4;
        if (isScript && QLocale::codeToScript(part) != QLocale::AnyScript)
            canonical += u'-' + part.first(1).toString().toUpper() + part.sliced(1).toString().toLower();
        else if (!isScript && part.size() == 2 && QLocale::codeToTerritory(part) != QLocale::AnyTerritory)
            canonical += u'-' + part.toString().toUpper();
        else
            return std::nullopt;
    }
    return canonical;
}

EncodedOutput::EncodedOutput(QIODevice &device, Form form, CodePage *codePage)
    : m_device(device), m_form(form), m_codePage(codePage)
{
    if (m_form == Form::Utf16LEWithMark)
        writeBytes("\xFF\xFE");
}

void EncodedOutput::flushIfFull()
{
    if (m_text.size() >= kFlushChars)
        flush(false);
}

bool EncodedOutput::finish()
{
    flush(true);
    return !m_failed;
}

void EncodedOutput::flush(bool last)
{
    qsizetype length = m_text.size();
    if (!last && length > 0 && m_text[length - 1].isHighSurrogate())
        --length; // keep a surrogate pair together
    const QStringView text = QStringView(m_text).first(length);
    switch (m_form) {
    case Form::Utf16LEWithMark:
        if constexpr (QSysInfo::ByteOrder == QSysInfo::LittleEndian) {
            writeBytes(QByteArrayView(reinterpret_cast<const char *>(text.utf16()), text.size() * 2));
        } else {
            QStringEncoder encoder(QStringEncoder::Utf16LE);
            writeBytes(QByteArray(encoder.encode(text)));
        }
        break;
    case Form::Ansi:
        m_bytes.resize(0);
        m_codePage->encode(text, m_bytes, true);
        writeBytes(m_bytes);
        break;
    case Form::Utf8: {
        QStringEncoder encoder(QStringEncoder::Utf8);
        writeBytes(QByteArray(encoder.encode(text)));
        break;
    }
    }
    m_text.remove(0, length);
}

void EncodedOutput::writeBytes(QByteArrayView bytes)
{
    // A short write is followed by another, so that the failing call gives the system's reason
    // (a device reports none for a write it did in part).
    while (!m_failed && !bytes.isEmpty()) {
        const qint64 written = m_device.write(bytes.data(), bytes.size());
        if (written <= 0) {
            m_failed = true;
            m_error = m_device.errorString();
            return;
        }
        bytes = bytes.sliced(written);
    }
}

EncodedOutput::Form outputForm(const ConvertOptions &options)
{
    if (options.format != ChapterFormat::Simple)
        return EncodedOutput::Form::Utf8;
    return options.OutputEncoding == OutputEncoding::Ansi ? EncodedOutput::Form::Ansi
                                                          : EncodedOutput::Form::Utf16LEWithMark;
}

std::unique_ptr<ChapterWriter> makeChapterWriter(const ConvertOptions &options, EncodedOutput &output)
{
    switch (options.format) {
    case ChapterFormat::Matroska:
        return std::make_unique<MatroskaChapterWriter>(output, options.language);
    case ChapterFormat::Ffmetadata:
        return std::make_unique<FfmetadataChapterWriter>(output);
    case ChapterFormat::Simple:
        break;
    }
    return std::make_unique<SimpleChapterWriter>(output);
}

qint64 largestTime(ChapterFormat format)
{
    switch (format) {
    case ChapterFormat::Matroska:
        return std::numeric_limits<qint64>::max() / 1'000'000; // nanoseconds in 64 bits
    case ChapterFormat::Ffmetadata:
        return qint64(1e15); // as far as retiming reaches; ffmpeg holds microseconds in 64 bits
    case ChapterFormat::Simple:
        break;
    }
    return kLargestChapterTime;
}

} // namespace Tessaline
