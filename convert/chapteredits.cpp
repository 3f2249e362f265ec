#include "chapteredits.h"

#include "formats/outputformat.h"

#include "chapterchange.h"
#include "chaptertime.h"
#include "chapterwriter.h"
#include "conversion.h"
#include "formats/inputformat.h"
#include "formats/simpletext.h"
#include "inputfile.h"
#include "textlinereader.h"

#include <QCryptographicHash>
#include <QFile>
#include <QRegularExpression>

namespace Tessaline {

namespace {

constexpr qint64 kHashBlockBytes = 1 << 20;

// Adds length bytes of the file from its position to the hash, a block at a time; false when
// reading failed or the file ended before.
bool addBytes(QCryptographicHash &hash, QFile &file, qint64 length)
{
    QByteArray block(kHashBlockBytes, Qt::Uninitialized);
    while (length > 0) {
        const qint64 read = file.read(block.data(), std::min(length, kHashBlockBytes));
        if (read <= 0)
            return false;
        hash.addData(QByteArrayView(block.constData(), read));
        length -= read;
    }
    return true;
}

// Keeps the chapters that simple text yields, with their times read whatever the options, and
// counts them past the limit without keeping them.
class CollectingWriter : public ChapterWriter
{
public:
    explicit CollectingWriter(QList<EditedChapter> &chapters) : m_chapters(chapters) { }

    void beginChapter(qsizetype number, const ChapterStart &start) override
    {
        m_count = number;
        m_kept = number <= kMostEditedChapters;
        if (m_kept)
            m_chapters.append({Chapter {start.milliseconds.value_or(0), {}, 0}, {}});
    }
    void appendTitle(QStringView piece) override
    {
        if (m_kept)
            m_chapters.last().chapter.title += piece;
    }
    void endChapter() override { }
    bool finish() override { return true; }

    qsizetype count() const { return m_count; }

private:
    QList<EditedChapter> &m_chapters;
    qsizetype m_count = 0;
    bool m_kept = false;
};

// Simple text through its reader and the change stage, which reads each time's value when the
// output is another format (its times are then checked against that format's largest, which
// the Matroska format's, about 292 years, leaves to the times' own fields).
Expected<qsizetype> readSimpleText(QIODevice &file, CodePage &codePage, QList<EditedChapter> &chapters)
{
    ConvertOptions reading;
    reading.ShiftFrameRate = false;
    reading.format = ChapterFormat::Matroska;
    const QStringList noTitles;
    const ChapterChange change(reading, noTitles, true);
    TextLineReader reader(file, codePage);
    CollectingWriter writer(chapters);
    const Expected<qsizetype> read = ConvertFile(reader, change, writer);
    if (!read)
        return read;
    return writer.count();
}

Failure tooManyChapters(const QString &path, qsizetype chapters)
{
    Failure failure {Failure::Kind::TooManyToEdit, path, 0, QString::number(kMostEditedChapters)};
    failure.chapter = chapters;
    return failure;
}

} // namespace

Expected<FileStamp> stampOf(const QString &path)
{
    Expected<std::unique_ptr<QFile>> opened = openRegularFile(path);
    if (!opened)
        return opened.error();
    QFile &file = **opened;
    FileStamp stamp {file.size(), file.fileTime(QFileDevice::FileModificationTime), {}};
    QCryptographicHash hash(QCryptographicHash::Sha256);
    const bool read = stamp.size <= kWholeHashBytes ? addBytes(hash, file, stamp.size)
                                                    : addBytes(hash, file, kHashedEndBytes)
            && file.seek(stamp.size - kHashedEndBytes) && addBytes(hash, file, kHashedEndBytes);
    if (!read)
        return Failure {Failure::Kind::ReadFailed, path, 0, file.errorString()};
    stamp.hash = hash.result();
    return stamp;
}

bool contentChanged(const FileStamp &earlier, const FileStamp &now)
{
    return earlier.size != now.size || earlier.hash != now.hash
        || (now.size > kWholeHashBytes && earlier.modified != now.modified);
}

Expected<ChaptersForEditing> readForEditing(const QString &path, const ConvertOptions &options)
{
    ChaptersForEditing edited;
    Expected<FileStamp> stamp = stampOf(path);
    if (!stamp)
        return stamp.error();
    edited.stamp = std::move(*stamp);
    Expected<CodePage> codePage = CodePage::open(options.codePage);
    if (!codePage)
        return codePage.error();
    Expected<ChapterSource> source = openChapterSource(path, options);
    if (!source)
        return source.error();
    QFile &file = *source->input.file;
    edited.simpleText = !source->format;
    if (edited.simpleText) {
        const Expected<qsizetype> read = readSimpleText(file, *codePage, edited.chapters);
        if (!read) {
            Failure failure = read.error();
            failure.path = path;
            return failure;
        }
        if (*read > kMostEditedChapters)
            return tooManyChapters(path, *read);
        return edited;
    }
    const Expected<ChapterList> read = source->format->read({path, file, *codePage, options.read});
    if (!read)
        return read.error();
    if (read->size() > kMostEditedChapters)
        return tooManyChapters(path, read->size());
    edited.chapters.reserve(read->size());
    for (const Chapter &chapter : *read)
        edited.chapters.append({Chapter {chapter.startMs, chapter.title, 0}, {}});
    return edited;
}

std::optional<qint64> parseChapterTime(QStringView text)
{
    static const QRegularExpression shape(QStringLiteral("^(\\d{2,10}):([0-5]\\d):([0-5]\\d)\\.(\\d{3})$"));
    const QRegularExpressionMatch match = shape.match(text);
    if (!match.hasMatch())
        return std::nullopt;
    const auto field = [&match](int n) { return match.capturedView(n).toLongLong(); };
    return ((field(1) * 60 + field(2)) * 60 + field(3)) * 1000 + field(4);
}

EditedChapter withTypedTime(EditedChapter chapter, const QString &text)
{
    if (const std::optional<qint64> milliseconds = parseChapterTime(text)) {
        chapter.chapter.startMs = *milliseconds;
        chapter.unreadTime.clear();
    } else {
        chapter.unreadTime = text;
    }
    return chapter;
}

EditedChapter newChapterAfter(const QList<EditedChapter> &chapters, qsizetype row)
{
    if (row < 0)
        return {};
    EditedChapter chapter = chapters[row];
    chapter.chapter.title.clear();
    return chapter;
}

QList<EditedRow> previewEditedChapters(const QList<EditedChapter> &chapters, bool simpleText, RunContext &run)
{
    const ChapterChange change(run.options, run.titles, simpleText, run.keyframes ? &*run.keyframes : nullptr);
    const bool ansi = outputFormatOf(run.options.format).form(run.options.OutputEncoding) == EncodedOutput::Form::Ansi;
    // As the conversion's preview shows it: in ANSI output, what the code page cannot represent
    // is the '?' it becomes.
    const auto asWritten
        = [&run, ansi](const QString &text) { return ansi ? run.codePage.decoded(run.codePage.encoded(text)) : text; };
    QList<EditedRow> rows;
    rows.reserve(chapters.size());
    qsizetype number = 0;
    for (const EditedChapter &edited : chapters) {
        EditedRow &row = rows.emplace_back();
        row.written.number = ++number;
        row.written.timeRead
            = edited.unreadTime.isEmpty() ? chapterTimeText(edited.chapter.startMs) : edited.unreadTime;
        if (!edited.unreadTime.isEmpty()) {
            row.problem = Failure {Failure::Kind::UnreadableTime, {}, 0, edited.unreadTime};
            row.problem->chapter = number;
        } else if (const Expected<qint64> start = change.startOf(edited.chapter, number)) {
            row.written.timeWritten = asWritten(chapterTimeText(*start));
        } else {
            row.problem = start.error();
        }
        const std::optional<QStringView> name = change.replacedTitle(number);
        QString title;
        appendOnOneLine(title, name ? *name : QStringView(edited.chapter.title));
        row.written.title = asWritten(title);
    }
    return rows;
}

QList<Failure> problemsOf(const QList<EditedRow> &rows)
{
    QList<Failure> problems;
    for (const EditedRow &row : rows) {
        if (row.problem)
            problems.append(*row.problem);
    }
    return problems;
}

Expected<ChapterList> chaptersToWrite(const QList<EditedChapter> &chapters)
{
    ChapterList written;
    written.reserve(chapters.size());
    for (const EditedChapter &edited : chapters) {
        if (!edited.unreadTime.isEmpty()) {
            Failure failure {Failure::Kind::UnreadableTime, {}, 0, edited.unreadTime};
            failure.chapter = written.size() + 1;
            return failure;
        }
        written.append(edited.chapter);
    }
    return written;
}

} // namespace Tessaline
