#include "qpfile.h"

#include "chapterwriter.h"

#include <QList>

#include <algorithm>

namespace Tessaline {

namespace {

class QpfileChapterWriter : public ChapterWriter
{
public:
    QpfileChapterWriter(EncodedOutput &output, FrameRate rate, QpFrameType type)
        : m_output(output), m_rate(rate), m_line(type == QpFrameType::Idr ? u" I\n" : u" K\n")
    { }

    void beginChapter(qsizetype, const ChapterStart &start) override
    {
        m_frames.append(nearestFrame(start.milliseconds.value_or(0), m_rate));
    }
    void appendTitle(QStringView) override { }
    void endChapter() override { }

    bool finish() override
    {
        std::sort(m_frames.begin(), m_frames.end());
        m_frames.erase(std::unique(m_frames.begin(), m_frames.end()), m_frames.end());
        QString &text = m_output.text();
        for (const qint64 frame : std::as_const(m_frames)) {
            appendPadded(text, frame, 1);
            text += m_line;
            m_output.flushIfFull();
        }
        return m_output.finish();
    }

private:
    EncodedOutput &m_output;
    FrameRate m_rate;
    QStringView m_line; // after the frame number
    QList<qint64> m_frames;
};

} // namespace

std::unique_ptr<ChapterWriter> makeQpfileWriter(EncodedOutput &output, FrameRate rate, QpFrameType type)
{
    return std::make_unique<QpfileChapterWriter>(output, rate, type);
}

} // namespace Tessaline
