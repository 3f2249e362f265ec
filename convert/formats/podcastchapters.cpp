#include "podcastchapters.h"

#include "chaptertime.h"
#include "chapterwriter.h"

#include <QJsonArray>
#include <QJsonDocument>
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

// A JSON string, escaped as Qt's JSON writer escapes it.
void appendJsonString(QString &text, const QString &string)
{
    const QByteArray array = QJsonDocument(QJsonArray {string}).toJson(QJsonDocument::Compact); // ["..."]
    text += QString::fromUtf8(array.sliced(1, array.size() - 2));
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
