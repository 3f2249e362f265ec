#include "mplsplaylist.h"

#include "failurereason.h"

#include <QIODevice>
#include <QtEndian>

#include <algorithm>

// A small parser of the documented playlist layout rather than libbluray: its public interface
// reads a playlist only as part of a whole disc (bd_open on the BDMV tree, then the clip
// information files of every play item), and bd_read_mpls returns a structure its public headers
// do not define. A playlist copied out of its disc is then unreadable through it.
//
// The parts read, all numbers big-endian:
//     0   "MPLS" and the version "0100", "0200" or "0300"
//     8   u32 offset of the PlayList, 12: u32 offset of the PlayListMark
//     PlayList: u32 length, u16 reserved, u16 number of play items, u16 number of sub-paths,
//         then the play items, each: u16 length (of what follows), 5 bytes clip name, 4 bytes
//         codec ("M2TS"), u16 flags, u8 STC id, u32 IN_time, u32 OUT_time, ...
//     PlayListMark: u32 length, u16 number of marks, then 14 bytes a mark: u8 reserved,
//         u8 type (1 entry mark, 2 link point), u16 play item, u32 time, u16 PID, u32 duration
// Times are 45 kHz ticks of the play item's clip; IN_time and OUT_time bound what the item plays.
// An entry mark outside them has no place on the playlist's timeline: the playlist fails, naming
// the mark, as readers have no way to warn of a mark left out.

namespace Tessaline {

namespace {

constexpr qint64 kTicksPerSecond = 45'000;
constexpr qint64 kMaxPlaylistBytes = 4 << 20; // real playlists are a few KB
constexpr quint8 kEntryMark = 1;

// Big-endian reads that fail, with the offset, past the end of the playlist.
class PlaylistBytes
{
public:
    PlaylistBytes(QByteArray bytes, const QString &path) : m_bytes(std::move(bytes)), m_path(path) { }

    // what: the field read, marked for translation with QT_TRANSLATE_NOOP.
    template<typename T> Expected<T> at(qint64 offset, const char *what) const
    {
        if (offset < 0 || offset > m_bytes.size() - qint64(sizeof(T)))
            return failure(offset, Reason::tr("the playlist ends before its %1").arg(Reason::tr(what)));
        return qFromBigEndian<T>(m_bytes.constData() + offset);
    }

    Failure failure(qint64 offset, const QString &detail) const
    {
        return Failure {Failure::Kind::BadInput, m_path, 0, detail, offset};
    }

private:
    QByteArray m_bytes;
    const QString &m_path;
};

struct PlayItem
{
    qint64 inTime = 0; // 45 kHz ticks of its clip
    qint64 outTime = 0; // likewise
    qint64 playlistStart = 0; // 45 kHz ticks on the playlist's timeline
};

Expected<QList<PlayItem>> playItems(const PlaylistBytes &bytes)
{
    const Expected<quint32> start = bytes.at<quint32>(8, QT_TRANSLATE_NOOP("Tessaline::Reason", "play list address"));
    if (!start)
        return start.error();
    const Expected<quint16> count
        = bytes.at<quint16>(qint64(*start) + 6, QT_TRANSLATE_NOOP("Tessaline::Reason", "play item count"));
    if (!count)
        return count.error();
    QList<PlayItem> items;
    qint64 offset = qint64(*start) + 10;
    qint64 playlistTime = 0;
    for (int i = 0; i < *count; ++i) {
        const Expected<quint16> length
            = bytes.at<quint16>(offset, QT_TRANSLATE_NOOP("Tessaline::Reason", "play item length"));
        if (!length)
            return length.error();
        const Expected<quint32> inTime
            = bytes.at<quint32>(offset + 14, QT_TRANSLATE_NOOP("Tessaline::Reason", "play item IN time"));
        if (!inTime)
            return inTime.error();
        const Expected<quint32> outTime
            = bytes.at<quint32>(offset + 18, QT_TRANSLATE_NOOP("Tessaline::Reason", "play item OUT time"));
        if (!outTime)
            return outTime.error();
        if (*outTime < *inTime)
            return bytes.failure(offset, Reason::tr("play item %1 ends before it starts").arg(i));
        items.append({qint64(*inTime), qint64(*outTime), playlistTime});
        playlistTime += qint64(*outTime) - *inTime;
        offset += 2 + qint64(*length);
    }
    return items;
}

} // namespace

int probeMplsPlaylist(QByteArrayView head)
{
    const QByteArrayView version = head.sliced(0, std::min<qsizetype>(head.size(), 8));
    return version == "MPLS0100" || version == "MPLS0200" || version == "MPLS0300" ? 100 : 0;
}

Expected<ChapterList> readMplsPlaylist(const ReadRequest &request)
{
    // Asked for by name (--from mpls), a file of any other kind fails as such, not at a field.
    if (probeMplsPlaylist(request.file.peek(8)) == 0)
        return Failure {Failure::Kind::BadInput, request.path, 0,
                        Reason::tr("not a Blu-ray playlist: it does not start with MPLS0100, MPLS0200 or MPLS0300")};
    const PlaylistBytes bytes(request.file.read(kMaxPlaylistBytes), request.path);
    const Expected<QList<PlayItem>> items = playItems(bytes);
    if (!items)
        return items.error();
    const Expected<quint32> marksStart
        = bytes.at<quint32>(12, QT_TRANSLATE_NOOP("Tessaline::Reason", "mark list address"));
    if (!marksStart)
        return marksStart.error();
    const Expected<quint16> count
        = bytes.at<quint16>(qint64(*marksStart) + 4, QT_TRANSLATE_NOOP("Tessaline::Reason", "mark count"));
    if (!count)
        return count.error();
    QList<qint64> entryTimes; // 45 kHz ticks on the playlist's timeline
    for (int i = 0; i < *count; ++i) {
        const qint64 offset = qint64(*marksStart) + 6 + 14 * i;
        const Expected<quint32> time
            = bytes.at<quint32>(offset + 4, QT_TRANSLATE_NOOP("Tessaline::Reason", "mark time"));
        if (!time)
            return time.error();
        if (*bytes.at<quint8>(offset + 1, QT_TRANSLATE_NOOP("Tessaline::Reason", "mark type")) != kEntryMark)
            continue;
        const quint16 item = *bytes.at<quint16>(offset + 2, QT_TRANSLATE_NOOP("Tessaline::Reason", "mark's play item"));
        if (item >= items->size())
            return bytes.failure(offset, Reason::tr("mark %1 refers to a play item that is not there").arg(i));
        const PlayItem &playItem = items->at(item);
        if (*time < playItem.inTime)
            return bytes.failure(offset, Reason::tr("mark %1 lies before its play item's IN time").arg(i));
        if (*time > playItem.outTime)
            return bytes.failure(offset, Reason::tr("mark %1 lies past its play item's OUT time").arg(i));
        entryTimes.append(*time - playItem.inTime + playItem.playlistStart);
    }
    if (entryTimes.isEmpty())
        return Failure {Failure::Kind::NoChapters, request.path, 0, Reason::tr("the playlist has no entry marks")};
    std::stable_sort(entryTimes.begin(), entryTimes.end());
    const PlayItem &last = items->last(); // there is one: every mark refers to one
    return numberedChapters(entryTimes, kTicksPerSecond, last.playlistStart + last.outTime - last.inTime);
}

} // namespace Tessaline
