#include "chapterwriter.h"

#include "codepage.h"
#include "formats/ffmetadata.h"
#include "formats/matroskaxml.h"
#include "formats/podcastchapters.h"
#include "formats/qpfile.h"
#include "formats/simpletext.h"

#include <QIODevice>
#include <QStringEncoder>
#include <QSysInfo>

#include <limits>

namespace Tessaline {

namespace {

constexpr qsizetype kFlushChars = 1 << 16; // text encoded and written at a time

} // namespace

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
        m_replaced += m_codePage->encode(text, m_bytes, true);
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
            m_systemError = systemErrorOfLastCall(m_error);
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

std::unique_ptr<ChapterWriter> makeChapterWriter(const ConvertOptions &options, EncodedOutput &output)
{
    switch (options.format) {
    case ChapterFormat::Matroska:
        return makeMatroskaXmlWriter(output, options.language);
    case ChapterFormat::Ffmetadata:
        return makeFfmetadataWriter(output);
    case ChapterFormat::Qpfile:
        return makeQpfileWriter(output, options.frameRate.value_or(options.retiming.to), options.qpFrameType);
    case ChapterFormat::PodcastChapters:
        return makePodcastChaptersWriter(output);
    case ChapterFormat::Simple:
        break;
    }
    return makeSimpleTextWriter(output);
}

qint64 largestTime(ChapterFormat format)
{
    switch (format) {
    case ChapterFormat::Matroska:
        return std::numeric_limits<qint64>::max() / 1'000'000; // nanoseconds in 64 bits
    case ChapterFormat::Ffmetadata:
    case ChapterFormat::PodcastChapters: // a double holds each millisecond of it
        return qint64(1e15); // as far as retiming reaches; ffmpeg holds microseconds in 64 bits
    case ChapterFormat::Qpfile:
    case ChapterFormat::Simple:
        break;
    }
    return kLargestChapterTime;
}

} // namespace Tessaline
