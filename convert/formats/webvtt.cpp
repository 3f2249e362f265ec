#include "webvtt.h"

#include "chaptertime.h"
#include "chapterwriter.h"
#include "failurereason.h"
#include "simpletext.h"
#include "textformat.h"

#include <QRegularExpression>

namespace Tessaline {

namespace {

constexpr QStringView kArrow = u"-->";

// WEBVTT alone, or followed by a space or a tab and anything.
bool isSignature(QStringView line)
{
    return line.startsWith(u"WEBVTT") && (line.size() == 6 || line[6] == u' ' || line[6] == u'\t');
}

// A block the file carries besides cues: a keyword alone or followed by a space, tab or line end.
bool isOtherBlock(QStringView firstLine)
{
    for (const QStringView keyword : {u"NOTE", u"STYLE", u"REGION"}) {
        if (firstLine.startsWith(keyword)
            && (firstLine.size() == keyword.size() || firstLine[keyword.size()] == u' '
                || firstLine[keyword.size()] == u'\t'))
            return true;
    }
    return false;
}

// A cue time [hh:]mm:ss.ttt in milliseconds.
std::optional<qint64> cueMilliseconds(QStringView time)
{
    static const QRegularExpression shape(QStringLiteral("^(?:(\\d{2,9}):)?([0-5]\\d):([0-5]\\d)\\.(\\d{3})$"));
    const QRegularExpressionMatch match = shape.match(time);
    if (!match.hasMatch())
        return std::nullopt;
    const qint64 hours = match.hasCaptured(1) ? *decimalNumber(match.capturedView(1)) : 0;
    return ((hours * 60 + *decimalNumber(match.capturedView(2))) * 60 + *decimalNumber(match.capturedView(3))) * 1000
        + *decimalNumber(match.capturedView(4));
}

// The character a numeric reference's digits (after "&#") name: U+FFFD for 0, a surrogate or past
// U+10FFFF, as HTML has it; nothing when the digits do not end in ';'. length: the digits and ';'.
std::optional<char32_t> numericReference(QStringView digits, qsizetype &length)
{
    const auto digitValue = [](QChar c) -> char32_t {
        const char16_t lower = c.unicode() | 0x20;
        return c >= u'0' && c <= u'9' ? c.unicode() - u'0' : lower >= u'a' && lower <= u'f' ? lower - u'a' + 10 : 99;
    };
    const bool hex = digits.startsWith(u'x') || digits.startsWith(u'X');
    const char32_t base = hex ? 16 : 10;
    const qsizetype first = hex ? 1 : 0;
    qsizetype i = first;
    char32_t value = 0;
    for (; i < digits.size() && digitValue(digits[i]) < base; ++i)
        value = std::min<char32_t>(value * base + digitValue(digits[i]), 0x110000); // past U+10FFFF stays past
    if (i == first || i >= digits.size() || digits[i] != u';')
        return std::nullopt;
    length = i + 1;
    if (value == 0 || value > 0x10FFFF || QChar::isSurrogate(value))
        return QChar::ReplacementCharacter;
    return value;
}

// The character a reference at the start of text ("&amp;", "&#38;", "&#x26;") stands for, and the
// reference's length; nothing when it is none that cue text decodes (the '&' then stands as it is).
std::optional<std::pair<char32_t, qsizetype>> characterReference(QStringView text)
{
    if (text.startsWith(u"&#")) {
        qsizetype length = 0;
        const std::optional<char32_t> character = numericReference(text.sliced(2), length);
        return character ? std::optional(std::pair(*character, length + 2)) : std::nullopt;
    }
    static const std::pair<QStringView, char32_t> named[] = {
        {u"&amp;", u'&'},   {u"&lt;", u'<'},        {u"&gt;", u'>'},       {u"&quot;", u'"'},
        {u"&apos;", u'\''}, {u"&nbsp;", U'\u00A0'}, {u"&lrm;", U'\u200E'}, {u"&rlm;", U'\u200F'},
    };
    for (const auto &[reference, character] : named) {
        if (text.startsWith(reference))
            return std::pair(character, reference.size());
    }
    return std::nullopt;
}

// Cue text as players show it: its tags (<b>, </i>, <c.loud>, <v Ann>, <00:01.000>) left out,
// each running to its '>' or the end of the line, and its character references decoded.
QString shownCueText(QStringView text)
{
    QString shown;
    shown.reserve(text.size());
    for (qsizetype i = 0; i < text.size();) {
        if (text[i] == u'<') {
            const qsizetype close = text.indexOf(u'>', i);
            i = close < 0 ? text.size() : close + 1;
        } else if (const auto reference = text[i] == u'&' ? characterReference(text.sliced(i)) : std::nullopt) {
            shown += QStringView(QChar::fromUcs4(reference->first));
            i += reference->second;
        } else {
            shown += text[i++];
        }
    }
    return shown;
}

// The start and end of a timing line "start --> end [settings]", when both can be read.
std::optional<std::pair<qint64, qint64>> cueTimes(QStringView line)
{
    static const QRegularExpression blanks(QStringLiteral("[ \\t]+"));
    const qsizetype arrow = line.indexOf(kArrow);
    const QStringView before = line.left(arrow).trimmed();
    const QStringView after = line.mid(arrow + kArrow.size()).trimmed();
    const qsizetype endOfEnd = after.indexOf(blanks);
    const std::optional<qint64> start = cueMilliseconds(before);
    const std::optional<qint64> end = cueMilliseconds(endOfEnd < 0 ? after : after.left(endOfEnd));
    return start && end ? std::optional(std::pair(*start, *end)) : std::nullopt;
}

// Cue text that shows as the title: &, < and > (which would start a reference or a tag, and
// make "-->" of a title's arrow) as references.
void appendCueText(QString &text, QStringView title)
{
    for (const QChar c : title) {
        if (c == u'&')
            text += u"&amp;";
        else if (c == u'<')
            text += u"&lt;";
        else if (c == u'>')
            text += u"&gt;";
        else
            text += c;
    }
}

// A cue ends where the next begins, so each is written once the next one's start is known.
class WebVttChapterWriter : public ChapterWriter
{
public:
    explicit WebVttChapterWriter(EncodedOutput &output) : m_output(output) { m_output.text() += u"WEBVTT\n"; }

    void beginChapter(qsizetype number, const ChapterStart &start) override
    {
        writePending(*start.milliseconds);
        m_pending = Cue {number, *start.milliseconds, start.endMilliseconds};
    }

    void appendTitle(QStringView piece) override { appendOnOneLine(m_title, piece); }

    void endChapter() override { }

    bool finish() override
    {
        if (m_pending) {
            const std::optional<qint64> end = m_pending->end;
            writePending(end && *end > m_pending->start ? *end : kLargestChapterTime);
        }
        return m_output.finish();
    }

private:
    struct Cue
    {
        qsizetype number;
        qint64 start; // ms
        std::optional<qint64> end; // ms, where the input says
    };

    void writePending(qint64 end)
    {
        if (!m_pending)
            return;
        QString &text = m_output.text();
        text += u'\n' + QString::number(m_pending->number) + u'\n';
        appendChapterTime(text, m_pending->start);
        text += u" --> ";
        appendChapterTime(text, std::max(m_pending->start, end));
        text += u'\n';
        if (!m_title.isEmpty()) { // an empty line would end the cue
            appendCueText(text, m_title);
            text += u'\n';
        }
        m_title.resize(0);
        m_output.flushIfFull();
    }

    EncodedOutput &m_output;
    std::optional<Cue> m_pending;
    QString m_title; // of the pending cue, on one line
};

} // namespace

int probeWebVtt(QByteArrayView head)
{
    const QStringList lines = headLines(head.first(std::min<qsizetype>(head.size(), 64)));
    return !lines.isEmpty() && isSignature(lines.first()) ? 100 : 0;
}

Expected<ChapterList> readWebVtt(const ReadRequest &request)
{
    const Expected<QStringList> lines = readTextLines(request, UnmarkedText::Utf8);
    if (!lines)
        return lines.error();
    if (lines->isEmpty() || !isSignature(lines->first()))
        return badInput(request, 1, Reason::tr("the first line is not WEBVTT"));
    ChapterList chapters;
    qsizetype i = 1;
    const auto skipBlock = [&] {
        while (i < lines->size() && !lines->at(i).isEmpty())
            ++i;
    };
    skipBlock(); // the header's further lines
    while (i < lines->size()) {
        if (lines->at(i).isEmpty()) {
            ++i;
            continue;
        }
        if (isOtherBlock(lines->at(i))) {
            skipBlock();
            continue;
        }
        if (!lines->at(i).contains(kArrow) && i + 1 < lines->size())
            ++i; // the cue's identifier
        if (!lines->at(i).contains(kArrow)) // where the timing line should be
            return badInput(request, i + 1, Reason::tr("a block that is neither a cue nor a NOTE, STYLE or REGION"));
        const std::optional<std::pair<qint64, qint64>> times = cueTimes(lines->at(i));
        if (!times)
            return badInput(
                request, i + 1,
                Reason::tr("the timing line \"%1\" is not [hh:]mm:ss.ttt --> [hh:]mm:ss.ttt").arg(lines->at(i)));
        const qint64 timingLine = ++i;
        chapters.append(
            {times->first, i < lines->size() ? shownCueText(lines->at(i)) : QString(), timingLine, times->second});
        skipBlock();
    }
    return chaptersFound(request, chapters);
}

std::unique_ptr<ChapterWriter> makeWebVttWriter(EncodedOutput &output)
{
    return std::make_unique<WebVttChapterWriter>(output);
}

} // namespace Tessaline
