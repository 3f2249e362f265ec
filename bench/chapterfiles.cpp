#include "chapterfiles.h"

#include <QFile>

namespace Tessaline::Bench {

namespace {

constexpr qint64 kStepMs = 300; // between chapters; a million chapters stay below 100 hours

void appendNumber(QByteArray &out, qint64 value, int width)
{
    const QByteArray digits = QByteArray::number(value);
    out.append(std::max<qsizetype>(0, width - digits.size()), '0');
    out.append(digits);
}

void appendChapter(QByteArray &out, qsizetype index)
{
    const qint64 ms = index * kStepMs;
    const qsizetype number = index + 1;
    out.append("CHAPTER");
    appendNumber(out, number, 2);
    out.append('=');
    appendNumber(out, ms / 3'600'000, 2);
    out.append(':');
    appendNumber(out, ms / 60'000 % 60, 2);
    out.append(':');
    appendNumber(out, ms / 1000 % 60, 2);
    out.append('.');
    appendNumber(out, ms % 1000, 3);
    out.append("\r\nCHAPTER");
    appendNumber(out, number, 2);
    out.append("NAME=Chapter ");
    appendNumber(out, number, 7);
    out.append(" - the quick brown fox jumps over it\r\n");
}

} // namespace

QByteArray chapterFileBytes(qsizetype chapters)
{
    QByteArray out;
    out.reserve(chapters * 100);
    for (qsizetype i = 0; i < chapters; ++i)
        appendChapter(out, i);
    return out;
}

QByteArray chapterFileOfSize(qsizetype bytes)
{
    QByteArray out;
    out.reserve(bytes + 200);
    QByteArray chapter;
    for (qsizetype i = 0;; ++i) {
        chapter.clear();
        appendChapter(chapter, i);
        if (out.size() + chapter.size() > bytes)
            return out;
        out.append(chapter);
    }
}

QStringList writeChapterFiles(const QString &folder, int count, qsizetype chapters)
{
    const QByteArray bytes = chapterFileBytes(chapters);
    QStringList paths;
    for (int i = 0; i < count; ++i) {
        const QString path = folder + u"/chapters" + QString::number(i) + u".txt";
        QFile file(path);
        if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size())
            return {};
        paths.append(path);
    }
    return paths;
}

} // namespace Tessaline::Bench
