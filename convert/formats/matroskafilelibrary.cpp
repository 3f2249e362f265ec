#include "matroskafile.h"

#include "failurereason.h"

#include <QIODevice>

#include <ebml/EbmlHead.h>
#include <ebml/EbmlStream.h>
#include <ebml/EbmlSubHead.h>
#include <ebml/IOCallback.h>
#include <matroska/KaxChapters.h>
#include <matroska/KaxCluster.h>
#include <matroska/KaxSeekHead.h>
#include <matroska/KaxSegment.h>
#include <matroska/KaxSemantic.h>

#include <algorithm>
#include <limits>
#include <memory>

// Through libebml and libmatroska rather than libavformat, which merges every edition into one
// list and drops chapters that start before one already read. The Chapters element is found
// through the SeekHeads (or among the top-level elements) and read alone, so that a file of any
// size costs a few small reads.

namespace Tessaline {

namespace {

using namespace libebml;
using namespace libmatroska;

constexpr quint64 kMaxMetadataBytes = 16 << 20; // a SeekHead or the Chapters: a few KB in practice
constexpr quint64 kMaxHeadBytes = 12; // of an element: an id of 1 to 4 bytes, a size of 1 to 8

// libebml's reads and seeks over the opened file, through a window of kWindowBytes held here:
// libebml reads each element's head and seeks back, and every seek of a QFile is a system call
// (1,700 of them for 100 chapters), so seeks only move the position and reads come from the window.
class DeviceCallback : public IOCallback
{
public:
    explicit DeviceCallback(QIODevice &device) : m_device(device) { }

    // Reads end at limit (bytes from the start of the file) until it is lifted again.
    void setReadLimit(qint64 limit) { m_readLimit = limit; }
    static constexpr qint64 kNoLimit = std::numeric_limits<qint64>::max();

    uint32 read(void *buffer, size_t size) override
    {
        auto *out = static_cast<char *>(buffer);
        size = std::min(size, size_t(std::max<qint64>(m_readLimit - m_position, 0)));
        size_t done = 0;
        while (done < size) {
            if (!inWindow(m_position) && !fillWindow())
                break;
            const qint64 offset = m_position - m_windowStart;
            const size_t part = std::min(size - done, size_t(m_window.size() - offset));
            std::copy_n(m_window.constData() + offset, part, out + done);
            done += part;
            m_position += qint64(part);
        }
        return uint32(done);
    }
    void setFilePointer(int64 offset, seek_mode mode) override
    {
        const qint64 base = mode == seek_current ? m_position : mode == seek_end ? m_device.size() : 0;
        m_position = std::max<qint64>(base + offset, 0);
    }
    size_t write(const void *, size_t) override { return 0; }
    uint64 getFilePointer() override { return uint64(m_position); }
    void close() override { }

private:
    static constexpr qint64 kWindowBytes = 64 * 1024;

    bool inWindow(qint64 position) const
    {
        return position >= m_windowStart && position < m_windowStart + m_window.size();
    }
    // The window from the current position; false at the end of the file or on a read error.
    bool fillWindow()
    {
        m_windowStart = m_position;
        m_window = m_device.seek(m_position) ? m_device.read(kWindowBytes) : QByteArray();
        return !m_window.isEmpty();
    }

    QIODevice &m_device;
    qint64 m_position = 0; // libebml's, in bytes from the start of the file
    qint64 m_windowStart = 0;
    qint64 m_readLimit = kNoLimit;
    QByteArray m_window;
};

// What a walk over elements does after one of them.
enum class Walk { Next, Stop };

// The chapters of the file, read with the library one element at a time: every element is checked
// against the one that holds it before anything of it is read, so that no size read from the file
// makes the library allocate more than the bytes that remain, and masters are entered one level at
// a time, to a bounded depth, rather than through the library's recursive EbmlMaster::Read.
class ChapterReader
{
public:
    explicit ChapterReader(const ReadRequest &request)
        : m_request(request), m_callback(request.file), m_stream(m_callback), m_fileSize(quint64(request.file.size()))
    { }

    Expected<ChapterList> read()
    {
        if (MaybeFailure failure = readHeader())
            return *failure;
        const std::unique_ptr<EbmlElement> segment(m_stream.FindNextID(EBML_INFO(KaxSegment), m_fileSize));
        if (!dynamic_cast<KaxSegment *>(segment.get()))
            return badInput(Reason::tr("no Segment after the EBML header"), qint64(m_callback.getFilePointer()));
        const Expected<quint64> chaptersAt = chaptersPosition(static_cast<KaxSegment &>(*segment));
        if (!chaptersAt)
            return chaptersAt.error();
        if (*chaptersAt == 0)
            return noChapters(Reason::tr("the file has no chapters"));
        Expected<std::unique_ptr<EbmlElement>> chapters = chaptersAtPosition(*chaptersAt, *segment);
        if (!chapters)
            return chapters.error();
        return editionChapters(**chapters);
    }

private:
    // Nested ChapterAtoms: authoring tools write a few levels; deeper ones are refused.
    static constexpr int kMaxAtomLevels = 64;
    // SeekHeads named by the SeekHeads met among the top-level elements, followed one step only.
    static constexpr int kMaxFollowedSeekHeads = 4;

    Failure badInput(const QString &detail, qint64 offset = -1) const
    {
        return Failure {Failure::Kind::BadInput, m_request.path, 0, detail, offset};
    }
    Failure noChapters(const QString &detail) const
    {
        return Failure {Failure::Kind::NoChapters, m_request.path, 0, detail};
    }

    static quint64 dataStart(const EbmlElement &element) { return element.GetElementPosition() + element.HeadSize(); }

    // The element that starts at position and ends by end (a byte past the last one), its head
    // read, in context; a failure when none starts exactly there or it runs past end.
    Expected<std::unique_ptr<EbmlElement>> elementAt(quint64 position, quint64 end, const EbmlSemanticContext &context)
    {
        const Failure damaged = badInput(
            Reason::tr("an element is damaged or runs past the element or file that holds it"), qint64(position));
        if (position >= end) // a SeekHead's position past the file
            return damaged;
        m_callback.setFilePointer(int64(position), seek_beginning);
        int upper = 0;
        // Where there is no element at position the library looks further on, a byte at a time to
        // end; such an element would not be the next one, so it reads no more than a head.
        m_callback.setReadLimit(qint64(std::min(position + kMaxHeadBytes, end)));
        std::unique_ptr<EbmlElement> element(m_stream.FindNextElement(context, upper, end - position, true));
        m_callback.setReadLimit(DeviceCallback::kNoLimit);
        if (!element || element->GetElementPosition() != position || !element->IsFiniteSize()
            || element->GetEndPosition() > end)
            return damaged;
        return element;
    }

    // Calls visit with each element from start to end in turn, until it says Walk::Stop; each
    // must begin where the one before ended.
    template<typename Visit>
    MaybeFailure forEachElement(quint64 start, quint64 end, const EbmlSemanticContext &context, Visit &&visit)
    {
        for (quint64 position = start; position < end;) {
            Expected<std::unique_ptr<EbmlElement>> element = elementAt(position, end, context);
            if (!element)
                return element.error();
            const Expected<Walk> step = visit(**element);
            if (!step)
                return step.error();
            if (*step == Walk::Stop)
                break;
            position = (*element)->GetEndPosition();
        }
        return std::nullopt;
    }

    template<typename Visit> MaybeFailure forEachChild(const EbmlElement &master, Visit &&visit)
    {
        return forEachElement(dataStart(master), master.GetEndPosition(), EBML_CONTEXT(&master),
                              std::forward<Visit>(visit));
    }

    // Reads the value of a number, string or binary element whose head was read.
    MaybeFailure readValue(EbmlElement &element)
    {
        if (!element.ValidateSize())
            return badInput(Reason::tr("an element's value has a size it cannot have"),
                            qint64(element.GetElementPosition()));
        m_callback.setFilePointer(int64(dataStart(element)), seek_beginning);
        element.ReadData(m_callback, SCOPE_ALL_DATA);
        return std::nullopt;
    }

    // A master small enough to be read, within the file.
    MaybeFailure checkMetadataSize(const EbmlElement &element) const
    {
        if (!element.IsFiniteSize() || element.GetSize() > kMaxMetadataBytes || element.GetEndPosition() > m_fileSize)
            return badInput(Reason::tr("an element's size runs past the file"), qint64(element.GetElementPosition()));
        return std::nullopt;
    }

    MaybeFailure readHeader()
    {
        const std::unique_ptr<EbmlElement> head(m_stream.FindNextID(EBML_INFO(EbmlHead), m_fileSize));
        // FindNextID yields an element of another class for another id.
        if (!dynamic_cast<EbmlHead *>(head.get()) || head->GetElementPosition() != 0)
            return badInput(Reason::tr("no EBML header"), 0);
        if (MaybeFailure failure = checkMetadataSize(*head))
            return failure;
        std::string type;
        MaybeFailure failure = forEachChild(*head, [&](EbmlElement &child) -> Expected<Walk> {
            auto *docType = dynamic_cast<EDocType *>(&child);
            if (!docType)
                return Walk::Next;
            if (MaybeFailure failure = readValue(*docType))
                return *failure;
            type = docType->GetValue();
            return Walk::Stop;
        });
        if (failure)
            return failure;
        if (type != "matroska" && type != "webm")
            return badInput(Reason::tr("the EBML document is neither Matroska nor WebM"), 0);
        m_callback.setFilePointer(int64(head->GetEndPosition()), seek_beginning);
        return std::nullopt;
    }

    // The Chapters element that a SeekHead names or the top-level walk met at position.
    Expected<std::unique_ptr<EbmlElement>> chaptersAtPosition(quint64 position, const EbmlElement &segment)
    {
        Expected<std::unique_ptr<EbmlElement>> element = elementAt(position, m_fileSize, EBML_CONTEXT(&segment));
        if (element && !dynamic_cast<KaxChapters *>(element->get()))
            return badInput(Reason::tr("the SeekHead points where no such element is"), qint64(position));
        if (element)
            if (MaybeFailure failure = checkMetadataSize(**element))
                return *failure;
        return element;
    }

    // What the walk over the top-level elements has found.
    struct TopLevelWalk
    {
        quint64 chapters = 0; // where the Chapters element starts; 0: not found yet
        bool seekHeadRead = false; // a SeekHead was read whole
        MaybeFailure damage; // why the first damaged SeekHead was left
        int followed = 0; // SeekHeads followed from others
    };

    // Where the Chapters element starts; 0: none. Read from the SeekHeads met among the top-level
    // elements (and from the SeekHeads they name), or met among those elements. The walk ends at
    // the first Cluster once a SeekHead was read whole; without one, or when one was damaged, it
    // goes on over the Clusters (a step each, by their sizes) to the end of the Segment. A walk
    // that meets a damaged element ends there, as the walks of other readers do.
    Expected<quint64> chaptersPosition(const KaxSegment &segment)
    {
        const quint64 end
            = segment.IsFiniteSize() ? std::min<quint64>(segment.GetEndPosition(), m_fileSize) : m_fileSize;
        TopLevelWalk walk;
        forEachElement(dataStart(segment), end, EBML_CONTEXT(&segment), [&](EbmlElement &element) -> Expected<Walk> {
            if (dynamic_cast<KaxChapters *>(&element))
                walk.chapters = element.GetElementPosition();
            else if (dynamic_cast<KaxSeekHead *>(&element))
                readSeekHead(element, segment, true, walk);
            else if (dynamic_cast<KaxCluster *>(&element) && walk.seekHeadRead && !walk.damage)
                return Walk::Stop;
            return walk.chapters ? Walk::Stop : Walk::Next;
        });
        if (walk.chapters == 0 && walk.damage)
            return *walk.damage;
        return walk.chapters;
    }

    // Takes the Chapters' position from seekHead when such an element is there, and with follow,
    // reads the SeekHeads it names (kMaxFollowedSeekHeads in all).
    void readSeekHead(EbmlElement &seekHead, const KaxSegment &segment, bool follow, TopLevelWalk &walk)
    {
        Expected<SeekEntries> entries = seekEntries(seekHead, segment);
        if (entries && entries->chapters) {
            const Expected<std::unique_ptr<EbmlElement>> chapters = chaptersAtPosition(entries->chapters, segment);
            if (chapters)
                walk.chapters = entries->chapters;
            else
                entries = chapters.error();
        }
        if (!entries) {
            walk.damage = walk.damage ? walk.damage : entries.error();
            return;
        }
        walk.seekHeadRead = true;
        for (const quint64 position : entries->seekHeads) {
            if (!follow || walk.chapters || walk.followed == kMaxFollowedSeekHeads)
                return;
            ++walk.followed;
            const Expected<std::unique_ptr<EbmlElement>> next = elementAt(position, m_fileSize, EBML_CONTEXT(&segment));
            if (next && dynamic_cast<KaxSeekHead *>(next->get()))
                readSeekHead(**next, segment, false, walk);
            else if (!walk.damage)
                walk.damage = badInput(Reason::tr("the SeekHead points where no such element is"), qint64(position));
        }
    }

    struct SeekEntries
    {
        quint64 chapters = 0; // where the Chapters element starts; 0: not named
        QList<quint64> seekHeads; // where the other SeekHeads start
    };

    // The positions that a SeekHead gives of the Chapters and of other SeekHeads.
    Expected<SeekEntries> seekEntries(EbmlElement &seekHead, const KaxSegment &segment)
    {
        if (MaybeFailure failure = checkMetadataSize(seekHead))
            return *failure;
        SeekEntries entries;
        MaybeFailure failure = forEachChild(seekHead, [&](EbmlElement &seek) -> Expected<Walk> {
            if (!dynamic_cast<KaxSeek *>(&seek))
                return Walk::Next;
            std::optional<EbmlId> id;
            std::optional<quint64> position;
            MaybeFailure failure = forEachChild(seek, [&](EbmlElement &child) -> Expected<Walk> {
                auto *seekId = dynamic_cast<KaxSeekID *>(&child);
                auto *seekPosition = dynamic_cast<KaxSeekPosition *>(&child);
                if (seekId || seekPosition)
                    if (MaybeFailure failure = readValue(child))
                        return *failure;
                // An id is 1 to 4 bytes; anything else names nothing.
                if (seekId && !id && seekId->GetSize() >= 1 && seekId->GetSize() <= 4)
                    id = EbmlId(seekId->GetBuffer(), unsigned(seekId->GetSize()));
                if (seekPosition && !position)
                    position = segment.GetGlobalPosition(seekPosition->GetValue());
                return Walk::Next;
            });
            if (failure)
                return *failure;
            if (id && position && *id == EBML_ID(KaxChapters) && !entries.chapters)
                entries.chapters = *position;
            else if (id && position && *id == EBML_ID(KaxSeekHead))
                entries.seekHeads.append(*position);
            return Walk::Next;
        });
        if (failure)
            return *failure;
        return entries;
    }

    // The chapters of edition m_request.settings.edition of a Chapters element.
    Expected<ChapterList> editionChapters(const EbmlElement &chapters)
    {
        int editions = 0;
        std::optional<Expected<ChapterList>> list;
        MaybeFailure failure = forEachChild(chapters, [&](EbmlElement &child) -> Expected<Walk> {
            if (!dynamic_cast<KaxEditionEntry *>(&child) || ++editions != m_request.settings.edition)
                return Walk::Next;
            list = editionAtoms(child);
            return Walk::Stop;
        });
        if (failure)
            return *failure;
        if (!list)
            return badInput(
                Reason::tr("edition %1 was asked for; the file has %2").arg(m_request.settings.edition).arg(editions));
        if (*list && (*list)->isEmpty())
            return noChapters(Reason::tr("edition %1 has no chapters").arg(editions));
        return *list;
    }

    // The top-level atoms of an edition, each its start and the string of its first display.
    Expected<ChapterList> editionAtoms(const EbmlElement &edition)
    {
        ChapterList list;
        MaybeFailure failure = forEachChild(edition, [&](EbmlElement &child) -> Expected<Walk> {
            if (!dynamic_cast<KaxChapterAtom *>(&child))
                return Walk::Next;
            const Expected<Atom> atom = readAtom(child, 1);
            if (!atom)
                return atom.error();
            if (!atom->startNs)
                return badInput(Reason::tr("a ChapterAtom without ChapterTimeStart"),
                                qint64(child.GetElementPosition()));
            // Nanoseconds up to 2^63 - 1, so always within range in milliseconds.
            const auto milliseconds = [](quint64 ns) {
                return roundedMilliseconds(qint64(std::min<quint64>(ns, INT64_MAX)), 1, 1'000'000'000);
            };
            list.append(Chapter {*milliseconds(*atom->startNs), atom->title.value_or(QString()), 0,
                                 atom->endNs ? milliseconds(*atom->endNs) : std::nullopt});
            return Walk::Next;
        });
        if (failure)
            return *failure;
        return list;
    }

    struct Atom
    {
        std::optional<quint64> startNs; // its first ChapterTimeStart
        std::optional<quint64> endNs {}; // its first ChapterTimeEnd
        std::optional<QString> title; // the string of its first ChapterDisplay, empty without one
    };

    // A ChapterAtom at level (1: a child of its edition). Its nested atoms are walked only to refuse
    // a nesting deeper than kMaxAtomLevels, which no authoring tool writes.
    Expected<Atom> readAtom(const EbmlElement &atom, int level)
    {
        if (level > kMaxAtomLevels)
            return badInput(Reason::tr("ChapterAtoms are nested more than %1 levels deep").arg(kMaxAtomLevels),
                            qint64(atom.GetElementPosition()));
        Atom read;
        MaybeFailure failure = forEachChild(atom, [&](EbmlElement &child) -> Expected<Walk> {
            if (auto *start = dynamic_cast<KaxChapterTimeStart *>(&child); start && !read.startNs) {
                if (MaybeFailure failure = readValue(*start))
                    return *failure;
                read.startNs = start->GetValue();
            } else if (auto *end = dynamic_cast<KaxChapterTimeEnd *>(&child); end && !read.endNs) {
                if (!readValue(*end)) // an end that cannot be read is left out: the chapter needs none
                    read.endNs = end->GetValue();
            } else if (dynamic_cast<KaxChapterDisplay *>(&child) && !read.title) {
                const Expected<QString> string = displayString(child);
                if (!string)
                    return string.error();
                read.title = *string;
            } else if (dynamic_cast<KaxChapterAtom *>(&child)) {
                const Expected<Atom> nested = readAtom(child, level + 1);
                if (!nested)
                    return nested.error();
            }
            return Walk::Next;
        });
        if (failure)
            return *failure;
        return read;
    }

    // The first ChapterString of a ChapterDisplay; empty without one.
    Expected<QString> displayString(const EbmlElement &display)
    {
        QString string;
        MaybeFailure failure = forEachChild(display, [&](EbmlElement &child) -> Expected<Walk> {
            auto *chapterString = dynamic_cast<KaxChapterString *>(&child);
            if (!chapterString)
                return Walk::Next;
            if (MaybeFailure failure = readValue(*chapterString))
                return *failure;
            string = QString::fromStdString(chapterString->GetValueUTF8());
            return Walk::Stop;
        });
        if (failure)
            return *failure;
        return string;
    }

    const ReadRequest &m_request;
    DeviceCallback m_callback;
    EbmlStream m_stream;
    quint64 m_fileSize;
};

} // namespace

Expected<ChapterList> readMatroskaFileWithLibrary(const ReadRequest &request)
{
    try {
        return ChapterReader(request).read();
    } catch (const std::exception &error) {
        // libebml throws on some malformed elements.
        return Failure {Failure::Kind::BadInput, request.path, 0,
                        Reason::tr("the library refused the file (%1)").arg(QString::fromLocal8Bit(error.what()))};
    }
}

} // namespace Tessaline

#ifdef TESSALINE_MODULE
extern "C" Q_DECL_EXPORT Tessaline::Expected<Tessaline::ChapterList>
tessalineReadMatroskaFile(const Tessaline::ReadRequest &request)
{
    return Tessaline::readMatroskaFileWithLibrary(request);
}
#endif
