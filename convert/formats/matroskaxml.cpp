#include "matroskaxml.h"

#include "chaptertime.h"
#include "chapterwriter.h"
#include "failurereason.h"
#include "languagetag.h"
#include "textformat.h"

#include <QRegularExpression>
#include <QXmlStreamReader>
#include <QXmlStreamWriter>

#include <algorithm>

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

// ChapterAtom elements nest at most this deep, more than any authoring tool writes; other elements
// at most as deep as Chapters, EditionEntry, those atoms and an atom's own elements (three deep:
// ChapterProcess, ChapterProcessCommand, ChapterProcessData) need. A deeper file is refused, not
// read with a stack and a list of open tags as deep as itself.
constexpr int kDeepestAtom = 64;
constexpr int kDeepestElement = 2 + kDeepestAtom + 3;

// A document read through next(), which holds it to what chapter XML is: bounded in depth, and
// without entities besides XML's five and character references, so that its text is never more
// than its bytes. (An entity that a DOCTYPE declares expands into its text at every reference;
// one the reader cannot resolve, such as an HTML entity under an external DTD, is otherwise
// dropped without a word.)
struct Reading
{
    const ReadRequest &request;
    QXmlStreamReader xml;
    ChapterList chapters;
    std::optional<Failure> failure;
    int depth = 0; // the elements open
    int atomDepth = 0; // the ChapterAtom elements open

    Failure bad(const QString &detail) { return badInput(request, xml.lineNumber(), detail); }

    // The next token; Invalid at the end, on malformed XML, or where the document breaks the
    // rules above (raised as the reader's error, with its line).
    QXmlStreamReader::TokenType next()
    {
        switch (xml.readNext()) {
        case QXmlStreamReader::StartElement:
            ++depth;
            if (xml.name() == u"ChapterAtom" && ++atomDepth > kDeepestAtom)
                xml.raiseError(Reason::tr("ChapterAtom elements nest deeper than %1 levels").arg(kDeepestAtom));
            else if (depth > kDeepestElement)
                xml.raiseError(Reason::tr("the elements nest deeper than %1 levels").arg(kDeepestElement));
            break;
        case QXmlStreamReader::EndElement:
            --depth;
            if (xml.name() == u"ChapterAtom")
                --atomDepth;
            break;
        case QXmlStreamReader::DTD:
            if (!xml.entityDeclarations().isEmpty())
                xml.raiseError(Reason::tr("the DOCTYPE declares the entity %1: chapter XML uses only XML's "
                                          "predefined entities and character references")
                                   .arg(xml.entityDeclarations().first().name()));
            break;
        case QXmlStreamReader::EntityReference:
            xml.raiseError(Reason::tr("the entity &%1; is not defined").arg(xml.name()));
            break;
        default:
            break;
        }
        return xml.tokenType();
    }

    // As QXmlStreamReader::readNextStartElement(), through next().
    bool nextStartElement()
    {
        for (;;) {
            switch (next()) {
            case QXmlStreamReader::StartElement:
                return true;
            case QXmlStreamReader::EndElement:
            case QXmlStreamReader::EndDocument:
            case QXmlStreamReader::Invalid:
                return false;
            default:
                break;
            }
        }
    }

    // Past the end of the element the reader stands on.
    void skipElement()
    {
        const int outside = depth - 1;
        while (depth > outside && next() != QXmlStreamReader::Invalid) { }
    }

    // The text of the element the reader stands on; with childElements that of the elements in
    // it too, without, an element in it is an error.
    QString elementText(bool childElements)
    {
        const QString element = xml.name().toString();
        const int outside = depth - 1;
        QString text;
        while (depth > outside && next() != QXmlStreamReader::Invalid) {
            if (xml.isCharacters())
                text += xml.text();
            else if (xml.isStartElement() && !childElements)
                xml.raiseError(Reason::tr("%1 holds an element, %2, where only text is read").arg(element, xml.name()));
        }
        return text;
    }
};

// The first ChapterString of the ChapterDisplay the reader stands on.
QString displayString(Reading &reading)
{
    QXmlStreamReader &xml = reading.xml;
    QString title;
    bool found = false;
    while (reading.nextStartElement()) {
        if (!found && (xml.name() == u"ChapterString" || xml.name() == u"ChapString")) {
            title = reading.elementText(true);
            found = true;
        } else {
            reading.skipElement();
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
    qint64 startLine = 0;
    std::optional<qint64> end; // left out where it cannot be read: the chapter needs none
    std::optional<QString> title;
    while (reading.nextStartElement()) {
        if (xml.name() == u"ChapterTimeStart") {
            startLine = xml.lineNumber();
            const QString text = reading.elementText(false);
            start = matroskaTimeMilliseconds(text);
            if (!start && !xml.hasError()) {
                reading.failure
                    = reading.bad(Reason::tr("ChapterTimeStart \"%1\" is not a time [HH:]MM:SS.nnnnnnnnn").arg(text));
                return std::nullopt;
            }
        } else if (xml.name() == u"ChapterTimeEnd" && !end) {
            end = matroskaTimeMilliseconds(reading.elementText(false));
        } else if (xml.name() == u"ChapterDisplay" && !title) {
            title = displayString(reading);
        } else {
            reading.skipElement();
        }
    }
    if (xml.hasError())
        return std::nullopt;
    if (!start) {
        reading.failure = badInput(reading.request, atomLine, Reason::tr("a ChapterAtom without ChapterTimeStart"));
        return std::nullopt;
    }
    return Chapter {*start, title.value_or(QString()), startLine, end};
}

// The top-level atoms of the EditionEntry the reader stands on.
bool readEdition(Reading &reading)
{
    while (reading.nextStartElement()) {
        if (reading.xml.name() != u"ChapterAtom") {
            reading.skipElement();
            continue;
        }
        const std::optional<Chapter> chapter = readAtom(reading);
        if (!chapter)
            return false;
        reading.chapters.append(*chapter);
    }
    return !reading.xml.hasError();
}

// Matroska chapter XML with one edition and one atom a chapter, without UIDs (mkvmerge makes
// them), so that the same input gives the same bytes. QXmlStreamWriter writes the document once,
// with a single atom whose start time and title are markers; the writer then repeats that atom's
// markup for every chapter, putting in its time and its title escaped as QXmlStreamWriter escapes
// text (&, <, > and " as entities, what QString::toHtmlEscaped does). A chapter so costs no call
// of the XML writer, whose per-element work would otherwise take most of a large file's time.
class MatroskaChapterWriter : public ChapterWriter
{
public:
    MatroskaChapterWriter(EncodedOutput &output, const QString &language) : m_output(output)
    {
        const QString ietf = canonicalLanguageTag(language).value_or(QStringLiteral("und"));
        const QString iso639 = iso639Part2Code(ietf);

        // A file without chapters has no edition: mkvmerge refuses an edition without atoms.
        QXmlStreamWriter empty(&m_empty);
        startDocument(empty);
        empty.writeEndDocument();

        QString document;
        QXmlStreamWriter xml(&document);
        startDocument(xml);
        xml.writeStartElement(QStringLiteral("EditionEntry"));
        xml.writeStartElement(QStringLiteral("ChapterAtom"));
        xml.writeTextElement(QStringLiteral("ChapterTimeStart"), kTimeMarker.toString());
        xml.writeStartElement(QStringLiteral("ChapterDisplay"));
        xml.writeTextElement(QStringLiteral("ChapterString"), kTitleMarker.toString());
        xml.writeTextElement(QStringLiteral("ChapterLanguage"), iso639);
        xml.writeTextElement(QStringLiteral("ChapLanguageIETF"), ietf);
        xml.writeEndElement(); // ChapterDisplay
        xml.writeEndElement(); // ChapterAtom
        const qsizetype atomEnd = document.size();
        xml.writeEndDocument();
        // The atom begins with the line end before it (the writer closes a start tag, here the
        // edition's, only once something follows it).
        const qsizetype atomStart = document.lastIndexOf(u'\n', document.indexOf(u"<ChapterAtom>"));

        const QStringView atom = QStringView(document).sliced(atomStart, atomEnd - atomStart);
        const qsizetype time = atom.indexOf(kTimeMarker);
        const qsizetype title = atom.indexOf(kTitleMarker);
        m_beforeTime = atom.first(time).toString();
        m_beforeTitle = atom.sliced(time + kTimeMarker.size(), title - time - kTimeMarker.size()).toString();
        m_afterTitle = atom.sliced(title + kTitleMarker.size()).toString();
        m_start = QStringView(document).first(atomStart).toString();
        m_end = QStringView(document).sliced(atomEnd).toString();
    }

    void beginChapter(qsizetype number, const ChapterStart &start) override
    {
        QString &text = m_output.text();
        if (number == 1)
            text += m_start;
        m_anyChapter = true;
        text += m_beforeTime;
        appendChapterTime(text, *start.milliseconds);
        text += u"000000"; // nanoseconds
        text += m_beforeTitle;
    }

    void appendTitle(QStringView piece) override
    {
        // mkvmerge drops a title of spaces and tabs alone, unless they are character references;
        // they are held back until the title shows whether anything else follows.
        if (!m_titleHasText) {
            const auto text = std::find_if(piece.begin(), piece.end(), [](QChar c) { return c != u' ' && c != u'\t'; });
            m_blankStart += piece.first(text - piece.begin());
            if (text == piece.end())
                return;
            m_titleHasText = true;
            m_output.text() += m_blankStart;
            m_blankStart.resize(0);
            piece = piece.sliced(text - piece.begin());
        }
        // XML 1.0 has no way to write control characters other than tab and the line ends, nor
        // U+FFFE and U+FFFF. A title's line ends are kept; a CR is written as a reference, which
        // a reader does not turn into LF as it does a raw one.
        const auto notXml = [](QChar c) {
            return (c.unicode() < 0x20 && c != u'\t' && c != u'\n' && c != u'\r') || c.unicode() == 0xFFFE
                || c.unicode() == 0xFFFF;
        };
        const auto needsChange
            = [&](QChar c) { return c == u'&' || c == u'<' || c == u'>' || c == u'"' || c == u'\r' || notXml(c); };
        QString &text = m_output.text();
        if (std::none_of(piece.begin(), piece.end(), needsChange)) {
            text += piece;
        } else {
            QString title = piece.toString();
            std::replace_if(title.begin(), title.end(), notXml, QChar(QChar::ReplacementCharacter));
            text += title.toHtmlEscaped().replace(u'\r', QStringLiteral("&#13;"));
        }
        m_output.flushIfFull();
    }

    void endChapter() override
    {
        for (const QChar c : std::as_const(m_blankStart))
            m_output.text() += c == u' ' ? u"&#32;" : u"&#9;";
        m_blankStart.resize(0);
        m_titleHasText = false;
        m_output.text() += m_afterTitle;
        m_output.flushIfFull();
    }

    bool finish() override
    {
        m_output.text() += m_anyChapter ? m_end : m_empty;
        return m_output.finish();
    }

private:
    static void startDocument(QXmlStreamWriter &xml)
    {
        xml.setAutoFormatting(true);
        xml.setAutoFormattingIndent(2);
        xml.writeStartDocument();
        xml.writeDTD(QStringLiteral("<!DOCTYPE Chapters SYSTEM \"matroskachapters.dtd\">"));
        xml.writeStartElement(QStringLiteral("Chapters"));
    }

    static constexpr QStringView kTimeMarker = u"@time@";
    static constexpr QStringView kTitleMarker = u"@title@";

    EncodedOutput &m_output;
    bool m_anyChapter = false;
    bool m_titleHasText = false; // anything but spaces and tabs so far in this chapter's title
    QString m_blankStart; // the spaces and tabs a title begins with, until it has more
    QString m_empty; // the document without chapters
    QString m_start; // the document up to its first atom
    QString m_beforeTime; // the atom's markup up to its start time
    QString m_beforeTitle; // from after the time to the title
    QString m_afterTitle; // from after the title to the end of the atom
    QString m_end; // the end of the document
};

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
    if (xml.readNextStartElement())
        return xml.name() == u"Chapters" ? 100 : 0;
    // The head ends in the prolog (comments, a DOCTYPE, processing instructions): the root may follow.
    return xml.error() == QXmlStreamReader::PrematureEndOfDocumentError ? kProbeUndecided : 0;
}

Expected<ChapterList> readMatroskaXml(const ReadRequest &request)
{
    Reading reading {request, QXmlStreamReader(&request.file), {}, {}};
    QXmlStreamReader &xml = reading.xml;
    if (reading.nextStartElement() && xml.name() != u"Chapters")
        return reading.bad(Reason::tr("the root element is %1, not Chapters").arg(xml.name()));
    int editions = 0;
    while (reading.nextStartElement()) {
        if (xml.name() == u"EditionEntry" && ++editions == request.settings.edition) {
            if (!readEdition(reading))
                break;
        } else {
            reading.skipElement();
        }
    }
    while (!reading.failure && !xml.atEnd())
        reading.next(); // what follows the root must be well formed too
    if (reading.failure)
        return *reading.failure;
    if (xml.hasError())
        return reading.bad(xml.errorString());
    if (editions > 0 && (request.settings.edition < 1 || request.settings.edition > editions))
        return badInput(
            request, 0,
            Reason::tr("there is no edition %1; the file has %2").arg(request.settings.edition).arg(editions));
    return chaptersFound(request, reading.chapters);
}

std::unique_ptr<ChapterWriter> makeMatroskaXmlWriter(EncodedOutput &output, const QString &language)
{
    return std::make_unique<MatroskaChapterWriter>(output, language);
}

} // namespace Tessaline
