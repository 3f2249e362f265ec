#include "ffmetadata.h"

#include "chaptertime.h"
#include "chapterwriter.h"
#include "failurereason.h"
#include "textformat.h"

#include <algorithm>

namespace Tessaline {

namespace {

constexpr QStringView kSignature = u";FFMETADATA1";

// A line ends in an escaped line end when it ends in an odd number of backslashes.
bool endsEscaped(QStringView line)
{
    qsizetype backslashes = 0;
    while (backslashes < line.size() && line[line.size() - 1 - backslashes] == u'\\')
        ++backslashes;
    return backslashes % 2 == 1;
}

// One key=value entry as the file holds it, escapes and all, and the line it starts on.
struct Entry
{
    QString text;
    qint64 line;
};

// The entries after the signature line: lines joined across escaped line ends, blank and
// comment lines dropped.
QList<Entry> entries(const QStringList &lines)
{
    QList<Entry> found;
    for (qsizetype i = 1; i < lines.size(); ++i) {
        Entry entry {lines[i], i + 1};
        while (endsEscaped(entry.text) && i + 1 < lines.size()) {
            entry.text.back() = u'\n'; // the backslash stood for the line end that follows it
            entry.text += lines[++i];
        }
        if (!entry.text.isEmpty() && !entry.text.startsWith(u';') && !entry.text.startsWith(u'#'))
            found.append(std::move(entry));
    }
    return found;
}

// Where the key of an entry ends: at its first '=' that no backslash escapes; -1 when none.
qsizetype keyEnd(QStringView text)
{
    for (qsizetype i = 0; i < text.size(); ++i) {
        if (text[i] == u'\\')
            ++i;
        else if (text[i] == u'=')
            return i;
    }
    return -1;
}

QString unescaped(QStringView text)
{
    QString plain;
    plain.reserve(text.size());
    for (qsizetype i = 0; i < text.size(); ++i) {
        if (text[i] == u'\\' && i + 1 < text.size())
            ++i;
        plain += text[i];
    }
    return plain;
}

// A [CHAPTER] section as read so far.
struct Section
{
    qint64 line; // of the [CHAPTER] line
    qint64 numerator = 1;
    qint64 denominator = 1'000'000'000;
    std::optional<qint64> start {};
    qint64 startLine = 0;
    QString startEntry {}; // START=…, as the file holds it
    std::optional<qint64> end {}; // left out where it cannot be read: the chapter needs none
    QString title {};
};

// The time base num/den, both positive.
std::optional<std::pair<qint64, qint64>> timeBase(QStringView text)
{
    const qsizetype slash = text.indexOf(u'/');
    if (slash < 0)
        return std::nullopt;
    const std::optional<qint64> numerator = decimalNumber(text.left(slash));
    const std::optional<qint64> denominator = decimalNumber(text.mid(slash + 1));
    if (!numerator || !denominator || *numerator == 0 || *denominator == 0)
        return std::nullopt;
    return std::pair(*numerator, *denominator);
}

// A START value: decimal ticks, a leading minus allowed.
std::optional<qint64> ticks(QStringView text)
{
    const bool negative = text.startsWith(u'-');
    const std::optional<qint64> magnitude = decimalNumber(negative ? text.mid(1) : text);
    return magnitude && negative ? std::optional(-*magnitude) : magnitude;
}

// Takes one key of a [CHAPTER] section; a failure when its value cannot be read.
MaybeFailure take(const ReadRequest &request, Section &section, const Entry &entry, QStringView key, QStringView value)
{
    // ffmpeg's values are C strings: a NUL (written after a title's trailing backslash, so that
    // the line end is not taken as escaped) ends the value.
    value = value.left(value.indexOf(u'\0'));
    if (key == u"TIMEBASE") {
        const auto base = timeBase(value);
        if (!base)
            return badInput(request, entry.line, Reason::tr("TIMEBASE \"%1\" is not a fraction num/den").arg(value));
        std::tie(section.numerator, section.denominator) = *base;
    } else if (key == u"START") {
        section.start = ticks(value);
        section.startLine = entry.line;
        section.startEntry = entry.text;
        if (!section.start)
            return badInput(request, entry.line, Reason::tr("START \"%1\" is not a whole number").arg(value));
    } else if (key == u"END") {
        section.end = ticks(value);
    } else if (key.compare(u"title", Qt::CaseInsensitive) == 0) {
        section.title = unescaped(value);
    }
    return std::nullopt;
}

// The chapter of a finished section.
Expected<Chapter> chapter(const ReadRequest &request, const Section &section)
{
    if (!section.start)
        return badInput(request, section.line, Reason::tr("a [CHAPTER] without START"));
    const std::optional<qint64> startMs = roundedMilliseconds(*section.start, section.numerator, section.denominator);
    if (!startMs) // past what any format holds
        return Failure {Failure::Kind::TimeOutOfRange, request.path, section.startLine, section.startEntry};
    const std::optional<qint64> endMs
        = section.end ? roundedMilliseconds(*section.end, section.numerator, section.denominator) : std::nullopt;
    return Chapter {*startMs, section.title, section.startLine, endMs};
}

// ffmpeg's metadata file: a [CHAPTER] section a chapter, in milliseconds. A chapter ends where
// the next starts, so each is written once the next one's start is known. ffmpeg refuses a
// chapter that ends before it starts: one followed by an earlier chapter, and the last, end
// where they start (for the last, ffmpeg's MP4 muxer then runs it to the end of the file).
class FfmetadataChapterWriter : public ChapterWriter
{
public:
    explicit FfmetadataChapterWriter(EncodedOutput &output) : m_output(output)
    {
        m_output.text() += kSignature;
        m_output.text() += u'\n';
    }

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

} // namespace

int probeFfmetadata(QByteArrayView head)
{
    const QStringList lines = headLines(head.first(std::min<qsizetype>(head.size(), 64)));
    return !lines.isEmpty() && lines.first().startsWith(kSignature) ? 100 : 0;
}

Expected<ChapterList> readFfmetadata(const ReadRequest &request)
{
    const Expected<QStringList> lines = readTextLines(request, UnmarkedText::Utf8);
    if (!lines)
        return lines.error();
    if (lines->isEmpty() || !lines->first().startsWith(kSignature))
        return badInput(request, 1, Reason::tr("the first line is not %1").arg(kSignature));
    ChapterList chapters;
    std::optional<Section> section;
    const auto finishSection = [&]() -> MaybeFailure {
        if (!section)
            return std::nullopt;
        const Expected<Chapter> read = chapter(request, *section);
        section.reset();
        if (!read)
            return read.error();
        chapters.append(*read);
        return std::nullopt;
    };
    for (const Entry &entry : entries(*lines)) {
        if (entry.text.startsWith(u'[')) {
            if (MaybeFailure failure = finishSection())
                return *failure;
            if (entry.text.startsWith(u"[CHAPTER]"))
                section = Section {.line = entry.line};
            continue;
        }
        const qsizetype end = keyEnd(entry.text);
        if (!section || end < 0)
            continue;
        const QStringView text(entry.text);
        if (MaybeFailure failure = take(request, *section, entry, text.left(end), text.mid(end + 1)))
            return *failure;
    }
    if (MaybeFailure failure = finishSection())
        return *failure;
    return chaptersFound(request, chapters);
}

std::unique_ptr<ChapterWriter> makeFfmetadataWriter(EncodedOutput &output)
{
    return std::make_unique<FfmetadataChapterWriter>(output);
}

} // namespace Tessaline
