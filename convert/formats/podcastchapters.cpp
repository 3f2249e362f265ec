#include "podcastchapters.h"

#include "chaptertime.h"
#include "chapterwriter.h"

#include <QList>

#include <algorithm>

namespace Tessaline {

namespace {

// Seconds with up to three decimals, as few as the milliseconds need: 83456 gives 83.456, 60500
// gives 60.5, 0 gives 0.
void appendSeconds(QString &text, qint64 milliseconds)
{
    appendPadded(text, milliseconds / 1000, 1);
    qint64 fraction = milliseconds % 1000;
    if (fraction == 0)
        return;
    int digits = 3;
    for (; fraction % 10 == 0; fraction /= 10)
        --digits;
    text += u'.';
    appendPadded(text, fraction, digits);
}

// A JSON string: '"' and '\' escaped, control characters as \n, \r, \t or \u00XX.
void appendJsonString(QString &text, QStringView string)
{
    text += u'"';
    for (const QChar c : string) {
        switch (c.unicode()) {
        case u'"':
            text += u"\\\"";
            break;
        case u'\\':
            text += u"\\\\";
            break;
        case u'\n':
            text += u"\\n";
            break;
        case u'\r':
            text += u"\\r";
            break;
        case u'\t':
            text += u"\\t";
            break;
        default:
            if (c.unicode() < 0x20)
                text += QStringLiteral("\\u%1").arg(c.unicode(), 4, 16, QChar(u'0'));
            else
                text += c;
        }
    }
    text += u'"';
}

class PodcastChaptersWriter : public ChapterWriter
{
public:
    explicit PodcastChaptersWriter(EncodedOutput &output) : m_output(output) { }

    void beginChapter(qsizetype, const ChapterStart &start) override
    {
        m_chapters.append(Chapter {start.milliseconds.value_or(0), {}});
    }
    void appendTitle(QStringView piece) override { m_chapters.back().title += piece; }
    void endChapter() override { }

    bool finish() override
    {
        std::stable_sort(m_chapters.begin(), m_chapters.end(),
                         [](const Chapter &a, const Chapter &b) { return a.startMs < b.startMs; });
        QString &text = m_output.text();
        text += u"{\n  \"version\": \"1.2.0\",\n  \"chapters\": [";
        for (qsizetype i = 0; i < m_chapters.size(); ++i) {
            text += i == 0 ? QStringView(u"\n    {\"startTime\": ") : QStringView(u",\n    {\"startTime\": ");
            appendSeconds(text, m_chapters[i].startMs);
            text += u", \"title\": ";
            appendJsonString(text, m_chapters[i].title);
            text += u'}';
            m_output.flushIfFull();
        }
        text += m_chapters.isEmpty() ? QStringView(u"]\n}\n") : QStringView(u"\n  ]\n}\n");
        return m_output.finish();
    }

private:
    struct Chapter
    {
        qint64 startMs;
        QString title;
    };

    EncodedOutput &m_output;
    QList<Chapter> m_chapters;
};

} // namespace

std::unique_ptr<ChapterWriter> makePodcastChaptersWriter(EncodedOutput &output)
{
    return std::make_unique<PodcastChaptersWriter>(output);
}

} // namespace Tessaline
