#include "chapterfiles.h"

#include <QFile>

#include <algorithm>

namespace Tessaline::Bench {

namespace {

constexpr qint64 kStepMs = 300; // between chapters
// Times start again after 90 hours (1,080,000 chapters), so that every time of a file of ten
// million chapters still fits 99:59:59.999 once rescaled, by 1.001 or by 25/23.976 (1.043).
constexpr qint64 kWrapMs = 90LL * 3600 * 1000;
constexpr qsizetype kBlockBytes = 1 << 20; // written at a time

void appendNumber(QByteArray &out, qint64 value, int width)
{
    const QByteArray digits = QByteArray::number(value);
    out.append(std::max<qsizetype>(0, width - digits.size()), '0');
    out.append(digits);
}

void appendChapter(QByteArray &out, qsizetype index)
{
    const qint64 ms = index * kStepMs % kWrapMs;
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

qsizetype writeChapterFileOfSize(const QString &path, qsizetype bytes)
{
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        return -1;
    QByteArray block;
    QByteArray chapter;
    qsizetype written = 0;
    qsizetype chapters = 0;
    for (;; ++chapters) {
        chapter.clear();
        appendChapter(chapter, chapters);
        const bool full = written + block.size() + chapter.size() > bytes;
        if (full || block.size() >= kBlockBytes) {
            if (file.write(block) != block.size())
                return -1;
            written += block.size();
            block.clear(); // keeps its capacity
        }
        if (full)
            return file.flush() ? chapters : -1;
        block.append(chapter);
    }
}

bool writeRepeated(const QString &path, QByteArrayView head, char fill, qsizetype count)
{
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(head.data(), head.size()) != head.size())
        return false;
    const QByteArray block(kBlockBytes, fill);
    for (qsizetype left = count; left > 0; left -= block.size()) {
        const qsizetype size = std::min(left, block.size());
        if (file.write(block.constData(), size) != size)
            return false;
    }
    return file.flush();
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
