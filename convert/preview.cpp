#include "preview.h"

#include "chaptertime.h"
#include "chapterwriter.h"
#include "conversion.h"
#include "convertchapters.h"
#include "formats/inputformat.h"
#include "formats/outputformat.h"
#include "formats/simpletext.h"
#include "inputfile.h"
#include "keyframes.h"

namespace Tessaline {

namespace {

// Keeps the first chapters as rows of a preview, and counts them all.
class PreviewWriter : public ChapterWriter
{
public:
    PreviewWriter(FilePreview &preview, qsizetype limit, qint64 snapWindowMs)
        : m_preview(preview), m_limit(limit), m_snapWindowMs(snapWindowMs)
    { }

    void beginChapter(qsizetype number, const ChapterStart &start) override
    {
        m_preview.chapters = number;
        m_row = number <= m_limit ? &m_preview.rows.emplace_back() : nullptr;
        if (!m_row)
            return;
        m_row->number = number;
        m_row->timeRead = start.text.toString();
        m_row->timeWritten = start.milliseconds ? chapterTimeText(*start.milliseconds) : m_row->timeRead;
        m_row->readMs = start.readMilliseconds;
        if (!m_row->readMs) {
            // Simple text copied as it stands: its value, where it is a time.
            if (const std::optional<TimeFields> fields = readTimeFields(start.text))
                m_row->readMs = plainMilliseconds(*fields);
        }
        m_row->writtenMs = start.milliseconds ? start.milliseconds : m_row->readMs;
        if (start.snap) {
            m_row->timeUnsnapped = chapterTimeText(start.snap->fromMs);
            if (!start.snap->snapped)
                m_row->notSnapped = notSnappedText(number, *start.snap, m_snapWindowMs);
        }
    }

    void appendTitle(QStringView piece) override
    {
        if (m_row)
            appendOnOneLine(m_row->title, piece);
    }

    void endChapter() override { }
    bool finish() override { return true; }

private:
    FilePreview &m_preview;
    qsizetype m_limit;
    qint64 m_snapWindowMs;
    ChapterPreviewRow *m_row = nullptr;
};

} // namespace

Expected<FilePreview> previewEntry(const QString &inputPath, RunContext &run, qsizetype limit)
{
    Expected<ChapterSource> source = openChapterSource(inputPath, run.options);
    if (!source)
        return source.error();
    FilePreview preview;
    preview.format = source->format ? source->format->name.toString() : QStringLiteral("simple");
    PreviewWriter writer(preview, limit, run.options.snapWindowMs);
    const Expected<qsizetype> chapters = convertChapters(*source->input.file, source->format, run, inputPath, writer);
    if (!chapters)
        return chapters.error();
    if (outputFormatOf(run.options.format).form(run.options.OutputEncoding) == EncodedOutput::Form::Ansi) {
        for (ChapterPreviewRow &row : preview.rows) {
            row.timeWritten = run.codePage.decoded(run.codePage.encoded(row.timeWritten));
            row.title = run.codePage.decoded(run.codePage.encoded(row.title));
        }
    }
    return preview;
}

} // namespace Tessaline
