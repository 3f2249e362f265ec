#include "textformat.h"

#include "inputformat.h"
#include "textlinereader.h"

#include <QRegularExpression>
#include <QStringDecoder>

namespace Tessaline {

QStringList headLines(QByteArrayView head)
{
    QStringDecoder::Encoding encoding = QStringDecoder::Utf8;
    if (head.startsWith("\xFF\xFE"))
        encoding = QStringDecoder::Utf16LE;
    else if (head.startsWith("\xFE\xFF"))
        encoding = QStringDecoder::Utf16BE;
    QStringDecoder decoder(encoding); // drops a byte order mark at the start
    QString text = decoder(head);
    if (head.size() >= kProbeBytes) {
        const qsizetype lastEnd = std::max(text.lastIndexOf(u'\n'), text.lastIndexOf(u'\r'));
        text.truncate(std::max<qsizetype>(lastEnd, 0));
    }
    static const QRegularExpression lineEnd(QStringLiteral("\r\n|\r|\n"));
    QStringList lines = text.split(lineEnd);
    if (!lines.isEmpty() && lines.last().isEmpty())
        lines.removeLast(); // a line end at the end starts no further line
    return lines;
}

Expected<QStringList> readTextLines(const ReadRequest &request, UnmarkedText unmarked)
{
    TextLineReader reader(request.file, request.codePage, unmarked);
    QStringList lines;
    while (std::optional<QString> line = reader.nextLine())
        lines.append(std::move(*line));
    if (MaybeFailure failure = reader.failure()) {
        failure->path = request.path;
        return *failure;
    }
    return lines;
}

Failure badInput(const ReadRequest &request, qint64 line, const QString &detail)
{
    return Failure {Failure::Kind::BadInput, request.path, line, detail};
}

Expected<ChapterList> chaptersFound(const ReadRequest &request, ChapterList chapters)
{
    if (chapters.isEmpty())
        return Failure {Failure::Kind::NoChapters, request.path, 0, {}};
    return chapters;
}

std::optional<qint64> decimalNumber(QStringView digits)
{
    if (digits.isEmpty())
        return std::nullopt;
    qint64 value = 0;
    for (const QChar c : digits) {
        if (c < u'0' || c > u'9')
            return std::nullopt;
        if (value > (std::numeric_limits<qint64>::max() - 9) / 10)
            return std::nullopt;
        value = value * 10 + (c.unicode() - u'0');
    }
    return value;
}

} // namespace Tessaline
