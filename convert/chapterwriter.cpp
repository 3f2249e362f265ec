#include "chapterwriter.h"

#include "codepage.h"

#include <QIODevice>
#include <QStringEncoder>
#include <QSysInfo>

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
        const QString padded = PadTwo(number);
        if (number > 1)
            text += u"\r\n";
        text += u"CHAPTER" + padded + u'=';
        if (start.milliseconds)
            text += chapterTimeText(*start.milliseconds);
        else
            text += start.text;
        text += u"\r\nCHAPTER" + padded + u"NAME=";
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

} // namespace

EncodedOutput::EncodedOutput(QIODevice &device, Form form, CodePage *codePage)
    : m_device(device), m_form(form), m_codePage(codePage)
{
    if (m_form == Form::Utf16LEWithMark)
        write("\xFF\xFE");
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
            write(QByteArrayView(reinterpret_cast<const char *>(text.utf16()), text.size() * 2));
        } else {
            QStringEncoder encoder(QStringEncoder::Utf16LE);
            write(QByteArray(encoder.encode(text)));
        }
        break;
    case Form::Ansi:
        m_bytes.resize(0);
        m_codePage->encode(text, m_bytes, true);
        write(m_bytes);
        break;
    case Form::Utf8: {
        QStringEncoder encoder(QStringEncoder::Utf8);
        write(QByteArray(encoder.encode(text)));
        break;
    }
    }
    m_text.remove(0, length);
}

void EncodedOutput::write(QByteArrayView bytes)
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
    return options.OutputEncoding == OutputEncoding::Ansi ? EncodedOutput::Form::Ansi
                                                          : EncodedOutput::Form::Utf16LEWithMark;
}

std::unique_ptr<ChapterWriter> makeChapterWriter(const ConvertOptions &options, EncodedOutput &output)
{
    Q_UNUSED(options);
    return std::make_unique<SimpleChapterWriter>(output);
}

qint64 largestTime(ChapterFormat format)
{
    Q_UNUSED(format);
    return kLargestChapterTime;
}

} // namespace Tessaline
