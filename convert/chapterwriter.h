#pragma once

#include "convertoptions.h"
#include "failure.h"
#include "keyframes.h"

#include <QString>
#include <QStringList>

#include <optional>

class QIODevice;

namespace Tessaline {

class CodePage;

// Encodes text for a device in blocks as it is appended, so that a large output is never held
// whole. The first write that fails is remembered, with the system's reason, and ends writing.
class EncodedOutput
{
public:
    enum class Form { Utf16LEWithMark, Ansi, Utf8, Utf8WithMark };

    // codePage: used by the Ansi form only; must outlive the output.
    EncodedOutput(QIODevice &device, Form form, CodePage *codePage);

    // Text to be written: append to it, then call flushIfFull().
    QString &text() { return m_text; }
    void flushIfFull();
    // Writes what is left; false when any write failed.
    bool finish();

    // Why a write failed: the system's reason, and errno's value for it (0: none, see
    // systemErrorOfLastCall()).
    const QString &error() const { return m_error; }
    int systemError() const { return m_systemError; }

    // The characters the Ansi form wrote as '?', since the code page cannot represent them.
    qsizetype replacedCharacters() const { return m_replaced; }

private:
    void flush(bool last);
    void writeBytes(QByteArrayView bytes);

    QIODevice &m_device;
    Form m_form;
    CodePage *m_codePage;
    QString m_text;
    QByteArray m_bytes;
    QString m_error;
    int m_systemError = 0;
    qsizetype m_replaced = 0;
    bool m_failed = false;
};

// The start of a chapter as the writers get it: the time text as read, and the time in
// milliseconds once it has been rescaled or is needed by the format; the time as read in
// milliseconds, where it was read as a number; and what the input says of the chapter beyond its
// start (Chapter::endMs, changed as the start is, and Chapter::media); when the run snaps
// chapters to keyframes, where from and whether it moved (milliseconds is then snap->toMs).
struct ChapterStart
{
    QStringView text;
    std::optional<qint64> milliseconds;
    std::optional<qint64> readMilliseconds {};
    std::optional<qint64> endMilliseconds {}; // nothing where the change takes it out of the format's range
    QStringView media {};
    std::optional<SnappedTime> snap {};
};

// Receives a file's chapters in order and writes them in one chapter format.
class ChapterWriter
{
public:
    virtual ~ChapterWriter() = default;

    // Chapter number (from 1) begins; its title follows in one or more pieces.
    virtual void beginChapter(qsizetype number, const ChapterStart &start) = 0;
    virtual void appendTitle(QStringView piece) = 0;
    virtual void endChapter() = 0;
    // After the last chapter; false when writing failed.
    virtual bool finish() = 0;
    // After finish(): the writer's notes on what it wrote, each a reason (Reason::tr) such as a
    // rule of the format that the chapters break; they fail nothing.
    virtual QStringList warnings() const { return {}; }
};

} // namespace Tessaline
