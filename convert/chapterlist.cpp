#include "chapterlist.h"

#include "chaptertime.h"
#include "textlinereader.h"

#include <QFile>
#include <QFileInfo>
#include <QList>

namespace Tessaline {

namespace {

constexpr qsizetype kTimeLength = 12;          // HH:MM:SS.mmm
constexpr qsizetype kFixedTimeStart = 10;      // after "CHAPTERnn="
constexpr qsizetype kFixedTitleStart = 14;     // after "CHAPTERnnNAME="
constexpr qsizetype kQuotedLineLength = 60;    // characters of a bad line shown in a message

bool isAsciiDigit(QChar c)
{
    return c >= u'0' && c <= u'9';
}

// Where the field of a "CHAPTER<digits><tag>" line starts, so that chapter numbers of any width
// are read right; lines of other shapes use the position of the two-digit form.
qsizetype fieldStart(QStringView line, QStringView tag, qsizetype fixedStart)
{
    constexpr QStringView prefix = u"CHAPTER";
    if (!line.startsWith(prefix))
        return fixedStart;
    qsizetype position = prefix.size();
    while (position < line.size() && isAsciiDigit(line[position]))
        ++position;
    if (position == prefix.size() || !line.sliced(position).startsWith(tag))
        return fixedStart;
    return position + tag.size();
}

QStringView timeField(QStringView line)
{
    return line.mid(fieldStart(line, u"=", kFixedTimeStart), kTimeLength);
}

QStringView titleField(QStringView line)
{
    return line.mid(fieldStart(line, u"NAME=", kFixedTitleStart));
}

QList<QStringView> nameLines(QStringView text)
{
    if (text.isEmpty())
        return {};
    return text.split(u"\r\n");
}

QString quotedLine(QStringView line)
{
    if (line.size() <= kQuotedLineLength)
        return u'"' + line.toString() + u'"';
    return u'"' + line.first(kQuotedLineLength).toString() + u"…\"";
}

void appendChapter(QString &output, qsizetype number, QStringView time, QStringView title)
{
    const QString padded = PadTwo(number);
    if (number > 1)
        output += u"\r\n";
    output += u"CHAPTER" + padded + u'=' + time + u"\r\nCHAPTER" + padded + u"NAME=" + title;
}

} // namespace

ConvertedText convertChapterBytes(QByteArrayView bytes, const ConvertOptions &options)
{
    const QList<QStringView> names = options.UseNameBox ? nameLines(options.NameBoxText)
                                                        : QList<QStringView>();
    TextLineReader reader(bytes, options.codePage);
    QString output;
    qsizetype chapters = 0;
    qsizetype lineNumber = 0;
    // A time line is only used once its name line follows, so a trailing lone or blank time
    // line is dropped without being looked at.
    QString timeLine;
    qsizetype timeLineNumber = 0;
    bool expectingName = false;

    while (const std::optional<QStringView> line = reader.nextLine()) {
        ++lineNumber;
        if (!expectingName) {
            timeLine.resize(0); // keeps its capacity for the next chapter
            timeLine.append(*line);
            timeLineNumber = lineNumber;
            expectingName = true;
            continue;
        }
        QString time = timeField(timeLine).toString();
        if (options.ShiftFrameRate) {
            std::optional<QString> shifted = ShiftChapterTime(time);
            if (!shifted) {
                return {{}, QStringLiteral("line %1 has no time that can be rescaled: %2")
                                .arg(timeLineNumber)
                                .arg(quotedLine(timeLine))};
            }
            time = std::move(*shifted);
        }
        const QStringView title = chapters < names.size() ? names[chapters] : titleField(*line);
        ++chapters;
        appendChapter(output, chapters, time, title);
        expectingName = false;
    }
    return {output, {}};
}

ConvertedText ConvertFile(const QString &inputPath, const ConvertOptions &options)
{
    if (QFileInfo(inputPath).isDir())
        return {{}, QStringLiteral("is a folder, not a chapter file")};
    QFile file(inputPath);
    if (!file.open(QIODevice::ReadOnly))
        return {{}, QStringLiteral("cannot be read (%1)").arg(file.errorString())};
    const QByteArray bytes = file.readAll();
    if (file.error() != QFileDevice::NoError)
        return {{}, QStringLiteral("cannot be read (%1)").arg(file.errorString())};
    file.close();
    return convertChapterBytes(bytes, options);
}

std::optional<QString> NameFromText(QStringView text, qsizetype n)
{
    const QList<QStringView> lines = nameLines(text);
    if (n < 1 || n > lines.size())
        return std::nullopt;
    return lines[n - 1].toString();
}

QString namesTextFromBytes(QByteArrayView bytes, int ansiCodePage)
{
    TextLineReader reader(bytes, ansiCodePage);
    QStringList lines;
    while (const std::optional<QStringView> line = reader.nextLine())
        lines.append(line->toString());
    return lines.join(u"\r\n");
}

} // namespace Tessaline
