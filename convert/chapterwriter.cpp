#include "chapterwriter.h"

#include "codepage.h"

#include <QIODevice>
#include <QLocale>
#include <QStringEncoder>
#include <QSysInfo>
#include <QXmlStreamWriter>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <limits>

namespace Tessaline {

namespace {

constexpr qsizetype kFlushChars = 1 << 16; // text encoded and written at a time

bool isIso639Part2(QStringView code);

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
        appendOnOneLine(m_output.text(), piece);
        m_output.flushIfFull();
    }

    void endChapter() override { m_output.flushIfFull(); }

    bool finish() override { return m_output.finish(); }

private:
    EncodedOutput &m_output;
};

// Matroska chapter XML with one edition and one atom a chapter, without UIDs (mkvmerge makes
// them), so that the same input gives the same bytes. QXmlStreamWriter writes the document once,
// with a single atom whose start time and title are markers; the writer then repeats that atom's
// markup for every chapter, putting in its time and its title escaped as QXmlStreamWriter escapes
// text (&, <, > and " as entities, what QString::toHtmlEscaped does). A chapter so costs no call
// of the XML writer, whose per-element work would otherwise take most of a large file's time.
class MatroskaChapterWriter : public ChapterWriter
{
public:
    MatroskaChapterWriter(EncodedOutput &output, const QString &language) : m_output(output)
    {
        const QString ietf = canonicalLanguageTag(language).value_or(QStringLiteral("und"));
        QString iso639
            = QLocale::languageToCode(QLocale::codeToLanguage(ietf.section(u'-', 0, 0)), QLocale::ISO639Part2B);
        if (iso639.isEmpty())
            iso639 = isIso639Part2(ietf.section(u'-', 0, 0)) ? ietf.section(u'-', 0, 0) : QStringLiteral("und");

        // A file without chapters has no edition: mkvmerge refuses an edition without atoms.
        QXmlStreamWriter empty(&m_empty);
        startDocument(empty);
        empty.writeEndDocument();

        QString document;
        QXmlStreamWriter xml(&document);
        startDocument(xml);
        xml.writeStartElement(QStringLiteral("EditionEntry"));
        xml.writeStartElement(QStringLiteral("ChapterAtom"));
        xml.writeTextElement(QStringLiteral("ChapterTimeStart"), kTimeMarker.toString());
        xml.writeStartElement(QStringLiteral("ChapterDisplay"));
        xml.writeTextElement(QStringLiteral("ChapterString"), kTitleMarker.toString());
        xml.writeTextElement(QStringLiteral("ChapterLanguage"), iso639);
        xml.writeTextElement(QStringLiteral("ChapLanguageIETF"), ietf);
        xml.writeEndElement(); // ChapterDisplay
        xml.writeEndElement(); // ChapterAtom
        const qsizetype atomEnd = document.size();
        xml.writeEndDocument();
        // The atom begins with the line end before it (the writer closes a start tag, here the
        // edition's, only once something follows it).
        const qsizetype atomStart = document.lastIndexOf(u'\n', document.indexOf(u"<ChapterAtom>"));

        const QStringView atom = QStringView(document).sliced(atomStart, atomEnd - atomStart);
        const qsizetype time = atom.indexOf(kTimeMarker);
        const qsizetype title = atom.indexOf(kTitleMarker);
        m_beforeTime = atom.first(time).toString();
        m_beforeTitle = atom.sliced(time + kTimeMarker.size(), title - time - kTimeMarker.size()).toString();
        m_afterTitle = atom.sliced(title + kTitleMarker.size()).toString();
        m_start = QStringView(document).first(atomStart).toString();
        m_end = QStringView(document).sliced(atomEnd).toString();
    }

    void beginChapter(qsizetype number, const ChapterStart &start) override
    {
        QString &text = m_output.text();
        if (number == 1)
            text += m_start;
        m_anyChapter = true;
        text += m_beforeTime;
        appendChapterTime(text, *start.milliseconds);
        text += u"000000"; // nanoseconds
        text += m_beforeTitle;
    }

    void appendTitle(QStringView piece) override
    {
        // mkvmerge drops a title of spaces and tabs alone, unless they are character references;
        // they are held back until the title shows whether anything else follows.
        if (!m_titleHasText) {
            const auto text = std::find_if(piece.begin(), piece.end(), [](QChar c) { return c != u' ' && c != u'\t'; });
            m_blankStart += piece.first(text - piece.begin());
            if (text == piece.end())
                return;
            m_titleHasText = true;
            m_output.text() += m_blankStart;
            m_blankStart.resize(0);
            piece = piece.sliced(text - piece.begin());
        }
        // XML 1.0 has no way to write control characters other than tab and the line ends, nor
        // U+FFFE and U+FFFF. A title's line ends are kept; a CR is written as a reference, which
        // a reader does not turn into LF as it does a raw one.
        const auto notXml = [](QChar c) {
            return (c.unicode() < 0x20 && c != u'\t' && c != u'\n' && c != u'\r') || c.unicode() == 0xFFFE
                || c.unicode() == 0xFFFF;
        };
        const auto needsChange
            = [&](QChar c) { return c == u'&' || c == u'<' || c == u'>' || c == u'"' || c == u'\r' || notXml(c); };
        QString &text = m_output.text();
        if (std::none_of(piece.begin(), piece.end(), needsChange)) {
            text += piece;
        } else {
            QString title = piece.toString();
            std::replace_if(title.begin(), title.end(), notXml, QChar(QChar::ReplacementCharacter));
            text += title.toHtmlEscaped().replace(u'\r', QStringLiteral("&#13;"));
        }
        m_output.flushIfFull();
    }

    void endChapter() override
    {
        for (const QChar c : std::as_const(m_blankStart))
            m_output.text() += c == u' ' ? u"&#32;" : u"&#9;";
        m_blankStart.resize(0);
        m_titleHasText = false;
        m_output.text() += m_afterTitle;
        m_output.flushIfFull();
    }

    bool finish() override
    {
        m_output.text() += m_anyChapter ? m_end : m_empty;
        return m_output.finish();
    }

private:
    static void startDocument(QXmlStreamWriter &xml)
    {
        xml.setAutoFormatting(true);
        xml.setAutoFormattingIndent(2);
        xml.writeStartDocument();
        xml.writeDTD(QStringLiteral("<!DOCTYPE Chapters SYSTEM \"matroskachapters.dtd\">"));
        xml.writeStartElement(QStringLiteral("Chapters"));
    }

    static constexpr QStringView kTimeMarker = u"@time@";
    static constexpr QStringView kTitleMarker = u"@title@";

    EncodedOutput &m_output;
    bool m_anyChapter = false;
    bool m_titleHasText = false; // anything but spaces and tabs so far in this chapter's title
    QString m_blankStart; // the spaces and tabs a title begins with, until it has more
    QString m_empty; // the document without chapters
    QString m_start; // the document up to its first atom
    QString m_beforeTime; // the atom's markup up to its start time
    QString m_beforeTitle; // from after the time to the title
    QString m_afterTitle; // from after the title to the end of the atom
    QString m_end; // the end of the document
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
        // Escaped as ffmpeg's metadata format asks: a backslash before =, ;, #, \\ and a line end.
        // Other control characters (NUL would end the line) become U+FFFD, as in XML.
        const auto isSpecial = [](QChar c) { return c == u'=' || c == u';' || c == u'#' || c == u'\\' || c < u' '; };
        for (auto special = std::find_if(piece.begin(), piece.end(), isSpecial); special != piece.end();
             special = std::find_if(piece.begin(), piece.end(), isSpecial)) {
            m_title += piece.first(special - piece.begin());
            if (*special >= u' ' || *special == u'\n' || *special == u'\r')
                m_title += u'\\' + *special;
            else
                m_title += *special == u'\t' ? u'\t' : QChar(QChar::ReplacementCharacter);
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
        // ffmpeg takes a line end after any backslash, even an escaped one, as part of the line;
        // a NUL after it ends the title there and the line at the line end.
        if (m_title.endsWith(u'\\'))
            text += QChar(u'\0');
        text += u'\n';
        m_title.resize(0);
        m_output.flushIfFull();
    }

    EncodedOutput &m_output;
    qint64 m_start = 0; // ms
    QString m_title;
    bool m_pending = false;
};

// An ISO 639-2 code, lower-case: among them those Qt has no language for (zxx, mul, tlh, qaa).
bool isIso639Part2(QStringView code)
{
    static constexpr const char *kCodes[] = {
#include "iso639table.inc"
    };
    const QByteArray latin1 = code.toLatin1();
    return std::binary_search(std::begin(kCodes), std::end(kCodes), latin1.constData(),
                              [](const char *a, const char *b) { return std::strcmp(a, b) < 0; });
}

} // namespace

void appendOnOneLine(QString &text, QStringView title)
{
    const auto isLineEnd = [](QChar c) { return c == u'\r' || c == u'\n'; };
    for (auto end = std::find_if(title.begin(), title.end(), isLineEnd); end != title.end();
         end = std::find_if(title.begin(), title.end(), isLineEnd)) {
        const qsizetype at = end - title.begin();
        text += title.first(at) + u' ';
        title = title.sliced(title.sliced(at).startsWith(u"\r\n") ? at + 2 : at + 1);
    }
    text += title;
}

std::optional<QString> canonicalLanguageTag(QStringView tag)
{
    const QList<QStringView> parts = tag.split(u'-');
    const QString language = parts.front().toString().toLower();
    if (language == u"und" && parts.size() == 1)
        return language;
    const QLocale::Language known = QLocale::codeToLanguage(language);
    if (parts.size() > 3 || language.size() < 2 || language.size() > 3
        || (known == QLocale::AnyLanguage && !isIso639Part2(language)))
        return std::nullopt;
    QString canonical = QLocale::languageToCode(known, QLocale::ISO639Part1);
    if (canonical.isEmpty() || known == QLocale::AnyLanguage)
        canonical = language;
    for (qsizetype i = 1; i < parts.size(); ++i) {
        const QStringView part = parts[i];
        const bool isScript = i == 1 && part.size() == 4;
        if (isScript && QLocale::codeToScript(part) != QLocale::AnyScript)
            canonical += u'-' + part.first(1).toString().toUpper() + part.sliced(1).toString().toLower();
        else if (!isScript && (part.size() == 2 || part.size() == 3)
                 && QLocale::codeToTerritory(part) != QLocale::AnyTerritory)
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
            m_systemError = errno;
            m_failed = true;
            m_error = m_device.errorString();
            return;
        }
        bytes = bytes.sliced(written);
    }
}

EncodedOutput::Form outputForm(ChapterFormat format, OutputEncoding encoding)
{
    if (format != ChapterFormat::Simple)
        return EncodedOutput::Form::Utf8;
    return encoding == OutputEncoding::Ansi ? EncodedOutput::Form::Ansi : EncodedOutput::Form::Utf16LEWithMark;
}

std::unique_ptr<ChapterWriter> makeChapterWriter(ChapterFormat format, const QString &language, EncodedOutput &output)
{
    switch (format) {
    case ChapterFormat::Matroska:
        return std::make_unique<MatroskaChapterWriter>(output, language);
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
