#include "matroskaxml.h"

#include "textformat.h"

#include <QRegularExpression>
#include <QXmlStreamReader>

namespace Tessaline {

namespace {

// Fraction digits as milliseconds, rounded half to even. Beyond 17 digits only whether any
// further digit is non-zero matters: it moves the value off a half, never across a millisecond.
std::optional<qint64> fractionMilliseconds(QStringView digits)
{
    constexpr qsizetype kKept = 17;
    QString kept = digits.left(kKept).toString();
    if (digits.size() > kKept)
        kept += digits.mid(kKept).count(u'0') == digits.size() - kKept ? u'0' : u'1';
    qint64 scale = 1;
    for (qsizetype i = 0; i < kept.size(); ++i)
        scale *= 10;
    const std::optional<qint64> fraction = decimalNumber(kept);
    return fraction ? roundedMilliseconds(*fraction, 1, scale) : std::nullopt;
}

struct Reading
{
    const ReadRequest &request;
    QXmlStreamReader xml;
    ChapterList chapters;
    std::optional<Failure> failure;

    Failure bad(const QString &detail) { return badInput(request, xml.lineNumber(), detail); }
};

// The first ChapterString of the ChapterDisplay the reader stands on.
QString displayString(QXmlStreamReader &xml)
{
    QString title;
    bool found = false;
    while (xml.readNextStartElement()) {
        if (!found && (xml.name() == u"ChapterString" || xml.name() == u"ChapString")) {
            title = xml.readElementText(QXmlStreamReader::IncludeChildElements);
            found = true;
        } else {
            xml.skipCurrentElement();
        }
    }
    return title;
}

// The ChapterAtom the reader stands on, as a chapter; its nested atoms are skipped.
std::optional<Chapter> readAtom(Reading &reading)
{
    QXmlStreamReader &xml = reading.xml;
    const qint64 atomLine = xml.lineNumber();
    std::optional<qint64> start;
    std::optional<QString> title;
    while (xml.readNextStartElement()) {
        if (xml.name() == u"ChapterTimeStart") {
            const QString text = xml.readElementText();
            start = matroskaTimeMilliseconds(text);
            if (!start) {
                reading.failure = reading.bad(u"ChapterTimeStart \"" + text + u"\" is not a time [HH:]MM:SS.nnnnnnnnn");
                return std::nullopt;
            }
        } else if (xml.name() == u"ChapterDisplay" && !title) {
            title = displayString(xml);
        } else {
            xml.skipCurrentElement();
        }
    }
    if (xml.hasError())
        return std::nullopt;
    if (!start) {
        reading.failure = badInput(reading.request, atomLine, QStringLiteral("a ChapterAtom without ChapterTimeStart"));
        return std::nullopt;
    }
    return Chapter {*start, title.value_or(QString())};
}

// The top-level atoms of the EditionEntry the reader stands on.
bool readEdition(Reading &reading)
{
    while (reading.xml.readNextStartElement()) {
        if (reading.xml.name() != u"ChapterAtom") {
            reading.xml.skipCurrentElement();
            continue;
        }
        const std::optional<Chapter> chapter = readAtom(reading);
        if (!chapter)
            return false;
        reading.chapters.append(*chapter);
    }
    return !reading.xml.hasError();
}

} // namespace

std::optional<qint64> matroskaTimeMilliseconds(QStringView text)
{
    static const QRegularExpression time(QStringLiteral("^(?:(\\d{1,9}):)?([0-5]\\d):([0-5]\\d)(?:\\.(\\d+))?$"));
    const QRegularExpressionMatch match = time.match(text.trimmed());
    if (!match.hasMatch())
        return std::nullopt;
    const std::optional<qint64> fraction = match.hasCaptured(4) ? fractionMilliseconds(match.capturedView(4)) : 0;
    if (!fraction)
        return std::nullopt;
    const qint64 hours = match.hasCaptured(1) ? *decimalNumber(match.capturedView(1)) : 0;
    const qint64 seconds
        = (hours * 60 + *decimalNumber(match.capturedView(2))) * 60 + *decimalNumber(match.capturedView(3));
    return seconds * 1000 + *fraction;
}

int probeMatroskaXml(QByteArrayView head)
{
    QXmlStreamReader xml(head.toByteArray());
    return xml.readNextStartElement() && xml.name() == u"Chapters" ? 100 : 0;
}

Expected<ChapterList> readMatroskaXml(const ReadRequest &request)
{
    Reading reading {request, QXmlStreamReader(&request.file), {}, {}};
    QXmlStreamReader &xml = reading.xml;
    if (xml.readNextStartElement() && xml.name() != u"Chapters")
        return reading.bad(u"the root element is " + xml.name() + u", not Chapters");
    int editions = 0;
    while (xml.readNextStartElement()) {
        if (xml.name() == u"EditionEntry" && ++editions == request.settings.edition) {
            if (!readEdition(reading))
                break;
        } else {
            xml.skipCurrentElement();
        }
    }
    while (!reading.failure && !xml.atEnd())
        xml.readNext(); // what follows the root must be well formed too
    if (reading.failure)
        return *reading.failure;
    if (xml.hasError())
        return reading.bad(xml.errorString());
    if (editions > 0 && (request.settings.edition < 1 || request.settings.edition > editions))
        return badInput(request, 0,
                        u"there is no edition " + QString::number(request.settings.edition) + u"; the file has "
                            + QString::number(editions));
    return chaptersFound(request, reading.chapters);
}

} // namespace Tessaline
