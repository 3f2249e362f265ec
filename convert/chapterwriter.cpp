#include "chapterwriter.h"

#include "codepage.h"

#include <QIODevice>
#include <QStringEncoder>
#include <QSysInfo>

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

} // namespace Tessaline
