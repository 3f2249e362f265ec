#include "matroskafile.h"

#include "failurereason.h"

#include <QIODevice>

#include <ebml/EbmlHead.h>
#include <ebml/EbmlStream.h>
#include <ebml/EbmlSubHead.h>
#include <ebml/IOCallback.h>
#include <matroska/KaxChapters.h>
#include <matroska/KaxCluster.h>
#include <matroska/KaxCues.h>
#include <matroska/KaxCuesData.h>
#include <matroska/KaxInfo.h>
#include <matroska/KaxSeekHead.h>
#include <matroska/KaxSegment.h>
#include <matroska/KaxSemantic.h>
#include <matroska/KaxTracks.h>

#include <QtNumeric>

#include <algorithm>
#include <array>
#include <limits>
#include <memory>

// Through libebml and libmatroska rather than libavformat, which merges every edition into one
// list and drops chapters that start before one already read, and which loads some 130 libraries
// to read a video's Cues. The Chapters element, or the Info, Tracks and Cues, are found through
// the SeekHeads (or among the top-level elements) and read alone, so that a file of any size costs
// a few small reads.

namespace Tessaline {

namespace {

using namespace libebml;
using namespace libmatroska;

// A SeekHead, the Info, Tracks or Chapters: a few KB in practice. The Cues: a million cue points,
// every frame of 11 hours at 25 fps.
constexpr quint64 kMaxMetadataBytes = 16 << 20;
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

// The top-level elements of a Segment that are read, besides its SeekHeads.
enum class TopLevel { Info, Tracks, Chapters, Cues };
constexpr std::size_t kTopLevelKinds = 4;
using TopLevelPositions = std::array<quint64, kTopLevelKinds>; // where each starts; 0: not found

// The kind of the element of that id (an element converts to its id), if it is one read.
std::optional<TopLevel> topLevelOf(const EbmlId &id)
{
    if (id == EBML_ID(KaxInfo))
        return TopLevel::Info;
    if (id == EBML_ID(KaxTracks))
        return TopLevel::Tracks;
    if (id == EBML_ID(KaxChapters))
        return TopLevel::Chapters;
    if (id == EBML_ID(KaxCues))
        return TopLevel::Cues;
    return std::nullopt;
}

// The file's chapters, or the keyframes its Cues list, read with the library one element at a
// time: every element is checked against the one that holds it before anything of it is read, so
// that no size read from the file makes the library allocate more than the bytes that remain, and
// masters are entered one level at a time, to a bounded depth, rather than through the library's
// recursive EbmlMaster::Read.
class SegmentReader
{
public:
    SegmentReader(const QString &path, QIODevice &file, int edition = 1)
        : m_path(path), m_edition(edition), m_callback(file), m_stream(m_callback), m_fileSize(quint64(file.size()))
    { }

    Expected<ChapterList> chapters()
    {
        const Expected<Segment> segment = readSegment({TopLevel::Chapters});
        if (!segment)
            return segment.error();
        const Expected<std::unique_ptr<EbmlElement>> chapters = topLevel(*segment, TopLevel::Chapters);
        if (!chapters)
            return chapters.error();
        if (!*chapters)
            return noChapters(Reason::tr("the file has no chapters"));
        return editionChapters(**chapters);
    }

    // The times of the keyframes that the Cues list for the first video track, in ms, each taken up
    // to the next whole one; empty when there are no Cues, or none for that track.
    Expected<QList<qint64>> cueKeyframes()
    {
        const Expected<Segment> segment = readSegment({TopLevel::Info, TopLevel::Tracks, TopLevel::Cues});
        if (!segment)
            return segment.error();
        const Expected<std::unique_ptr<EbmlElement>> tracks = topLevel(*segment, TopLevel::Tracks);
        if (!tracks)
            return tracks.error();
        const Expected<quint64> track = *tracks ? firstVideoTrack(**tracks) : Expected<quint64>(0);
        if (!track)
            return track.error();
        if (*track == 0)
            return badInput(Reason::tr("the file has no video stream"));
        const Expected<std::unique_ptr<EbmlElement>> cues = topLevel(*segment, TopLevel::Cues);
        if (!cues)
            return cues.error();
        if (!*cues)
            return QList<qint64>();
        const Expected<std::unique_ptr<EbmlElement>> info = topLevel(*segment, TopLevel::Info);
        if (!info)
            return info.error();
        const Expected<quint64> scale = *info ? timestampScale(**info) : Expected<quint64>(kDefaultScale);
        if (!scale)
            return scale.error();
        return cueTimes(**cues, *track, *scale);
    }

private:
    // Nested ChapterAtoms: authoring tools write a few levels; deeper ones are refused.
    static constexpr int kMaxAtomLevels = 64;
    // SeekHeads named by the SeekHeads met among the top-level elements, followed one step only.
    static constexpr int kMaxFollowedSeekHeads = 4;

    // A TimestampScale (ns a tick) where the Info gives none.
    static constexpr quint64 kDefaultScale = 1'000'000;

    Failure badInput(const QString &detail, qint64 offset = -1) const
    {
        return Failure {Failure::Kind::BadInput, m_path, 0, detail, offset};
    }
    Failure noChapters(const QString &detail) const { return Failure {Failure::Kind::NoChapters, m_path, 0, detail}; }

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
        const Expected<std::optional<std::string>> type
            = firstValue<EDocType>(*head, [](const EDocType &docType) { return std::string(docType.GetValue()); });
        if (!type)
            return type.error();
        if (*type != "matroska" && *type != "webm")
            return badInput(Reason::tr("the EBML document is neither Matroska nor WebM"), 0);
        m_callback.setFilePointer(int64(head->GetEndPosition()), seek_beginning);
        return std::nullopt;
    }

    // The Segment after the EBML header, and where the wanted elements among its top-level ones start.
    struct Segment
    {
        std::unique_ptr<EbmlElement> element;
        TopLevelPositions positions;
    };

    Expected<Segment> readSegment(const QList<TopLevel> &wanted)
    {
        if (MaybeFailure failure = readHeader())
            return *failure;
        std::unique_ptr<EbmlElement> segment(m_stream.FindNextID(EBML_INFO(KaxSegment), m_fileSize));
        if (!dynamic_cast<KaxSegment *>(segment.get()))
            return badInput(Reason::tr("no Segment after the EBML header"), qint64(m_callback.getFilePointer()));
        const Expected<TopLevelPositions> positions = topLevelPositions(static_cast<KaxSegment &>(*segment), wanted);
        if (!positions)
            return positions.error();
        return Segment {std::move(segment), *positions};
    }

    // The top-level element of that kind that a SeekHead names or the top-level walk met at position.
    Expected<std::unique_ptr<EbmlElement>> topLevelAt(quint64 position, TopLevel kind, const EbmlElement &segment)
    {
        Expected<std::unique_ptr<EbmlElement>> element = elementAt(position, m_fileSize, EBML_CONTEXT(&segment));
        if (element && topLevelOf(**element) != kind)
            return badInput(Reason::tr("the SeekHead points where no such element is"), qint64(position));
        if (element)
            if (MaybeFailure failure = checkMetadataSize(**element))
                return *failure;
        return element;
    }

    // The Segment's element of that kind, its head read; null when it has none.
    Expected<std::unique_ptr<EbmlElement>> topLevel(const Segment &segment, TopLevel kind)
    {
        const quint64 position = segment.positions[std::size_t(kind)];
        if (position == 0)
            return std::unique_ptr<EbmlElement>();
        return topLevelAt(position, kind, *segment.element);
    }

    // What the walk over the top-level elements has found.
    struct TopLevelWalk
    {
        QList<TopLevel> wanted;
        TopLevelPositions positions {}; // of the wanted elements found so far
        bool seekHeadRead = false; // a SeekHead was read whole
        MaybeFailure damage; // why the first damaged SeekHead was left
        int followed = 0; // SeekHeads followed from others

        bool found(TopLevel kind) const { return positions[std::size_t(kind)] != 0; }
        bool foundAll() const
        {
            return std::all_of(wanted.begin(), wanted.end(), [&](TopLevel kind) { return found(kind); });
        }
        void take(TopLevel kind, quint64 position)
        {
            if (wanted.contains(kind) && !found(kind))
                positions[std::size_t(kind)] = position;
        }
    };

    // Where the wanted elements start (0: none). Read from the SeekHeads met among the top-level
    // elements (and from the SeekHeads they name), or met among those elements. The walk ends once
    // all are found, or at the first Cluster once a SeekHead was read whole; without one, or when
    // one was damaged, it goes on over the Clusters (a step each, by their sizes) to the end of the
    // Segment. A walk that meets a damaged element ends there, as the walks of other readers do.
    Expected<TopLevelPositions> topLevelPositions(const KaxSegment &segment, const QList<TopLevel> &wanted)
    {
        const quint64 end
            = segment.IsFiniteSize() ? std::min<quint64>(segment.GetEndPosition(), m_fileSize) : m_fileSize;
        TopLevelWalk walk;
        walk.wanted = wanted;
        forEachElement(dataStart(segment), end, EBML_CONTEXT(&segment), [&](EbmlElement &element) -> Expected<Walk> {
            if (const std::optional<TopLevel> kind = topLevelOf(element))
                walk.take(*kind, element.GetElementPosition());
            else if (dynamic_cast<KaxSeekHead *>(&element))
                readSeekHead(element, segment, true, walk);
            else if (dynamic_cast<KaxCluster *>(&element) && walk.seekHeadRead && !walk.damage)
                return Walk::Stop;
            return walk.foundAll() ? Walk::Stop : Walk::Next;
        });
        if (!walk.foundAll() && walk.damage)
            return *walk.damage;
        return walk.positions;
    }

    // Takes the positions of the wanted elements from seekHead when such elements are there, and
    // with follow, reads the SeekHeads it names (kMaxFollowedSeekHeads in all).
    void readSeekHead(EbmlElement &seekHead, const KaxSegment &segment, bool follow, TopLevelWalk &walk)
    {
        Expected<SeekEntries> entries = seekEntries(seekHead, segment);
        for (const TopLevel kind : walk.wanted) {
            const quint64 position = entries ? entries->positions[std::size_t(kind)] : 0;
            if (position == 0 || walk.found(kind))
                continue;
            const Expected<std::unique_ptr<EbmlElement>> element = topLevelAt(position, kind, segment);
            if (element)
                walk.take(kind, position);
            else
                entries = element.error();
        }
        if (!entries) {
            walk.damage = walk.damage ? walk.damage : entries.error();
            return;
        }
        walk.seekHeadRead = true;
        for (const quint64 position : entries->seekHeads) {
            if (!follow || walk.foundAll() || walk.followed == kMaxFollowedSeekHeads)
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
        TopLevelPositions positions {}; // where the elements read start; 0: not named
        QList<quint64> seekHeads; // where the other SeekHeads start
    };

    // The positions that a SeekHead gives of the elements read and of other SeekHeads.
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
            const std::optional<TopLevel> kind = id ? topLevelOf(*id) : std::nullopt;
            if (kind && position && entries.positions[std::size_t(*kind)] == 0)
                entries.positions[std::size_t(*kind)] = *position;
            else if (id && position && *id == EBML_ID(KaxSeekHead))
                entries.seekHeads.append(*position);
            return Walk::Next;
        });
        if (failure)
            return *failure;
        return entries;
    }

    // What valueOf makes of the first child of master of the class Element, its value read;
    // nothing without one.
    template<typename Element, typename ValueOf>
    auto firstValue(const EbmlElement &master, ValueOf &&valueOf)
        -> Expected<std::optional<std::invoke_result_t<ValueOf, const Element &>>>
    {
        std::optional<std::invoke_result_t<ValueOf, const Element &>> value;
        MaybeFailure failure = forEachChild(master, [&](EbmlElement &child) -> Expected<Walk> {
            auto *element = dynamic_cast<Element *>(&child);
            if (!element)
                return Walk::Next;
            if (MaybeFailure failure = readValue(*element))
                return *failure;
            value = valueOf(*element);
            return Walk::Stop;
        });
        if (failure)
            return *failure;
        return value;
    }

    // The value of the first child of master of the class Number (an unsigned number).
    template<typename Number> Expected<std::optional<quint64>> firstNumber(const EbmlElement &master)
    {
        return firstValue<Number>(master, [](const Number &number) { return quint64(number.GetValue()); });
    }

    // The TrackNumber of the first TrackEntry of TrackType video; 0 when there is none.
    Expected<quint64> firstVideoTrack(const EbmlElement &tracks)
    {
        quint64 video = 0;
        MaybeFailure failure = forEachChild(tracks, [&](EbmlElement &entry) -> Expected<Walk> {
            if (!dynamic_cast<KaxTrackEntry *>(&entry))
                return Walk::Next;
            const Expected<std::optional<quint64>> type = firstNumber<KaxTrackType>(entry);
            if (!type)
                return type.error();
            if (*type != quint64(MATROSKA_TRACK_TYPE_VIDEO))
                return Walk::Next;
            const Expected<std::optional<quint64>> number = firstNumber<KaxTrackNumber>(entry);
            if (!number)
                return number.error();
            video = number->value_or(0);
            return video ? Walk::Stop : Walk::Next;
        });
        if (failure)
            return *failure;
        return video;
    }

    // The Info's TimestampScale, in ns a tick.
    Expected<quint64> timestampScale(const EbmlElement &info)
    {
        const Expected<std::optional<quint64>> scale = firstNumber<KaxTimecodeScale>(info);
        if (!scale)
            return scale.error();
        if (*scale == quint64(0))
            return badInput(Reason::tr("the TimestampScale is 0"), qint64(info.GetElementPosition()));
        return scale->value_or(kDefaultScale);
    }

    // The times of the CuePoints that list the track, in ticks of scale ns, as ms taken up to the
    // next whole one.
    Expected<QList<qint64>> cueTimes(const EbmlElement &cues, quint64 track, quint64 scale)
    {
        QList<qint64> times;
        MaybeFailure failure = forEachChild(cues, [&](EbmlElement &point) -> Expected<Walk> {
            if (!dynamic_cast<KaxCuePoint *>(&point))
                return Walk::Next;
            const Expected<std::optional<quint64>> ticks = firstNumber<KaxCueTime>(point);
            if (!ticks)
                return ticks.error();
            const Expected<bool> listed = listsTrack(point, track);
            if (!listed)
                return listed.error();
            if (!*ticks || !*listed)
                return Walk::Next;
            quint64 ns = 0;
            if (qMulOverflow(**ticks, scale, &ns) || ns / 1'000'000 >= quint64(INT64_MAX))
                return badInput(Reason::tr("a CueTime lies past any time a chapter can have"),
                                qint64(point.GetElementPosition()));
            times.append(qint64(ns / 1'000'000 + (ns % 1'000'000 != 0)));
            return Walk::Next;
        });
        if (failure)
            return *failure;
        return times;
    }

    // Whether one of a CuePoint's CueTrackPositions is of the track.
    Expected<bool> listsTrack(const EbmlElement &point, quint64 track)
    {
        bool listed = false;
        MaybeFailure failure = forEachChild(point, [&](EbmlElement &child) -> Expected<Walk> {
            if (!dynamic_cast<KaxCueTrackPositions *>(&child))
                return Walk::Next;
            const Expected<std::optional<quint64>> number = firstNumber<KaxCueTrack>(child);
            if (!number)
                return number.error();
            listed = *number == track;
            return listed ? Walk::Stop : Walk::Next;
        });
        if (failure)
            return *failure;
        return listed;
    }

    // The chapters of edition m_edition of a Chapters element.
    Expected<ChapterList> editionChapters(const EbmlElement &chapters)
    {
        int editions = 0;
        std::optional<Expected<ChapterList>> list;
        MaybeFailure failure = forEachChild(chapters, [&](EbmlElement &child) -> Expected<Walk> {
            if (!dynamic_cast<KaxEditionEntry *>(&child) || ++editions != m_edition)
                return Walk::Next;
            list = editionAtoms(child);
            return Walk::Stop;
        });
        if (failure)
            return *failure;
        if (!list)
            return badInput(Reason::tr("edition %1 was asked for; the file has %2").arg(m_edition).arg(editions));
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
        const Expected<std::optional<QString>> string = firstValue<KaxChapterString>(
            display, [](const KaxChapterString &string) { return QString::fromStdString(string.GetValueUTF8()); });
        if (!string)
            return string.error();
        return string->value_or(QString());
    }

    const QString &m_path;
    int m_edition; // from 1
    DeviceCallback m_callback;
    EbmlStream m_stream;
    quint64 m_fileSize;
};

// libebml throws on some malformed elements.
Failure refused(const QString &path, const std::exception &error)
{
    return Failure {Failure::Kind::BadInput, path, 0,
                    Reason::tr("the library refused the file (%1)").arg(QString::fromLocal8Bit(error.what()))};
}

} // namespace

Expected<ChapterList> readMatroskaFileWithLibrary(const ReadRequest &request)
{
    try {
        return SegmentReader(request.path, request.file, request.settings.edition).chapters();
    } catch (const std::exception &error) {
        return refused(request.path, error);
    }
}

Expected<QList<qint64>> readMatroskaCueKeyframesWithLibrary(const KeyframeRequest &request)
{
    try {
        Expected<QList<qint64>> times = SegmentReader(request.path, request.file).cueKeyframes();
        return times ? keyframeTimeline(std::move(*times)) : times;
    } catch (const std::exception &error) {
        return refused(request.path, error);
    }
}

} // namespace Tessaline

#ifdef TESSALINE_MODULE
extern "C" Q_DECL_EXPORT Tessaline::Expected<Tessaline::ChapterList>
tessalineReadMatroskaFile(const Tessaline::ReadRequest &request)
{
    return Tessaline::readMatroskaFileWithLibrary(request);
}

extern "C" Q_DECL_EXPORT Tessaline::Expected<QList<qint64>>
tessalineReadMatroskaCueKeyframes(const Tessaline::KeyframeRequest &request)
{
    return Tessaline::readMatroskaCueKeyframesWithLibrary(request);
}
#endif
