#include "dvdtitle.h"

#include "failurereason.h"

#include <QDir>
#include <QFile>
#include <QIODevice>
#include <QSet>
#include <QTemporaryDir>

#include <dvdread/dvd_reader.h>
#include <dvdread/ifo_read.h>

#include <memory>
#include <optional>
#include <utility>

// Through libdvdread, which opens an IFO only by its title set number inside a disc's folder:
// the bytes read are copied into a private folder as VIDEO_TS/VTS_01_0.IFO, so that any name (a
// .BUP, a renamed copy) reads the same and libdvdread sees nothing else of the disc.

namespace Tessaline {

namespace {

constexpr qint64 kMaxIfoBytes = 64 << 20; // a title set's IFO holds tables, a few hundred KB
// Frames in 1/150000 s, a unit both frame rates divide: NTSC frames last 1001/30000 s, PAL 1/25 s.
constexpr qint64 kTicksPerSecond = 150'000;
constexpr qint64 kNtscFrameTicks = 5'005;
constexpr qint64 kPalFrameTicks = 6'000;

Failure badInput(const QString &path, const QString &detail, qint64 offset = -1)
{
    return Failure {Failure::Kind::BadInput, path, 0, detail, offset};
}

// A big-endian number of the IFO's bytes at offset; nothing past the end.
std::optional<quint32> bigEndianAt(const QByteArray &bytes, qint64 offset, int size)
{
    if (offset < 0 || offset + size > bytes.size())
        return std::nullopt;
    quint32 value = 0;
    for (int i = 0; i < size; ++i)
        value = value << 8 | quint8(bytes[offset + i]);
    return value;
}

// Whether the program chain table at offset has two entries that start at the same byte.
// libdvdread shares such a chain between the entries, and when the chain cannot be read it
// writes through a null pointer (libdvdread 6.1), so such a file is never handed to it.
bool sharedChainIn(const QByteArray &bytes, qint64 table)
{
    const std::optional<quint32> count = bigEndianAt(bytes, table, 2);
    QSet<quint32> starts;
    for (quint32 i = 0; count && i < *count; ++i) {
        const std::optional<quint32> start = bigEndianAt(bytes, table + 8 + 8 * qint64(i) + 4, 4);
        if (!start)
            break;
        if (starts.contains(*start))
            return true;
        starts.insert(*start);
    }
    return false;
}

// Whether the title set's program chain table, or one of its menus' tables (a table a
// language), shares a chain between two entries. Sector pointers at 0xCC and 0xD0 of the IFO.
bool sharesProgramChains(const QByteArray &bytes)
{
    constexpr qint64 kSectorBytes = 2048;
    if (const std::optional<quint32> titles = bigEndianAt(bytes, 0xCC, 4);
        titles && sharedChainIn(bytes, *titles * kSectorBytes))
        return true;
    const std::optional<quint32> menus = bigEndianAt(bytes, 0xD0, 4);
    if (!menus || *menus == 0)
        return false;
    const qint64 units = *menus * kSectorBytes;
    const std::optional<quint32> languages = bigEndianAt(bytes, units, 2);
    for (quint32 i = 0; languages && i < *languages; ++i) {
        const std::optional<quint32> start = bigEndianAt(bytes, units + 8 + 8 * qint64(i) + 4, 4);
        if (!start)
            break;
        if (sharedChainIn(bytes, units + *start))
            return true;
    }
    return false;
}

// Whether a table of the title set says it ends past the file's end. libdvdread allocates a
// table's bytes from that end (a 32-bit count, up to 4 GiB) before reading them. The tables and
// where their end lies: the chapters' (sector at 0xC8, end at +4), the menus' and the titles'
// cell addresses (0xD8, 0xE0: +4) and VOBU maps (0xDC, 0xE4: +0); sector 0 is no table.
bool tableEndsPastFile(const QByteArray &bytes)
{
    constexpr qint64 kSectorBytes = 2048;
    constexpr std::pair<qint64, qint64> kTables[] = {{0xC8, 4}, {0xD8, 4}, {0xDC, 0}, {0xE0, 4}, {0xE4, 0}};
    for (const auto &[pointer, endField] : kTables) {
        const std::optional<quint32> sector = bigEndianAt(bytes, pointer, 4);
        if (!sector || *sector == 0)
            continue;
        const qint64 table = *sector * kSectorBytes;
        const std::optional<quint32> lastByte = bigEndianAt(bytes, table + endField, 4);
        if (lastByte && table + *lastByte >= bytes.size())
            return true;
    }
    return false;
}

int fromBcd(quint8 value)
{
    return (value >> 4) * 10 + (value & 0x0F);
}

// A cell's playing time in ticks; nothing for a time without a frame rate.
std::optional<qint64> playbackTicks(const dvd_time_t &time)
{
    const qint64 seconds = (fromBcd(time.hour) * 60 + fromBcd(time.minute)) * 60 + fromBcd(time.second);
    const qint64 frames = fromBcd(time.frame_u & 0x3F);
    switch (time.frame_u >> 6) {
    case 3:
        return (seconds * 30 + frames) * kNtscFrameTicks;
    case 1:
        return (seconds * 25 + frames) * kPalFrameTicks;
    default:
        if (seconds == 0 && frames == 0)
            return 0;
        return std::nullopt;
    }
}

struct IfoDeleter
{
    void operator()(ifo_handle_t *ifo) const { ifoClose(ifo); }
};
struct DvdDeleter
{
    void operator()(dvd_reader_t *dvd) const { DVDClose(dvd); }
};

void ignoreLog(void *, dvd_logger_level_t, const char *, va_list)
{ }

// Ticks from the start of each cell of a program chain, and its end: the cells of an angle block
// play one at a time, so only the first of them counts.
Expected<QList<qint64>> cellStarts(const ifo_handle_t &ifo, int pgcIndex, const QString &path)
{
    const pgci_srp_t &search = ifo.vts_pgcit->pgci_srp[pgcIndex];
    const pgc_t &pgc = *search.pgc;
    if (pgc.nr_of_cells > 0 && !pgc.cell_playback)
        return badInput(path, Reason::tr("a program chain has cells but no table of them"));
    QList<qint64> starts {0};
    for (int cell = 0; cell < pgc.nr_of_cells; ++cell) {
        const cell_playback_t &playback = pgc.cell_playback[cell];
        const bool otherAngle
            = playback.block_type == BLOCK_TYPE_ANGLE_BLOCK && playback.block_mode != BLOCK_MODE_FIRST_CELL;
        const std::optional<qint64> ticks = otherAngle ? 0 : playbackTicks(playback.playback_time);
        if (!ticks) {
            const qint64 offset = qint64(ifo.vtsi_mat->vts_pgcit) * DVD_VIDEO_LB_LEN + search.pgc_start_byte
                + pgc.cell_playback_offset + 24 * cell + 4;
            return badInput(path, Reason::tr("a cell's playing time has no frame rate"), offset);
        }
        starts.append(starts.last() + *ticks);
    }
    return starts;
}

// The chapters of one title in ticks, and its end (the last element).
Expected<QList<qint64>> titleChapterTicks(const ifo_handle_t &ifo, const ttu_t &title, const QString &path)
{
    QList<qint64> ticks;
    int pgcIndex = -1;
    qint64 pgcStart = 0; // ticks of the title before the current program chain
    QList<qint64> cells;
    for (int i = 0; i < title.nr_of_ptts; ++i) {
        const ptt_info_t &part = title.ptt[i];
        if (part.pgcn < 1 || part.pgcn > ifo.vts_pgcit->nr_of_pgci_srp || !ifo.vts_pgcit->pgci_srp[part.pgcn - 1].pgc)
            return badInput(path, Reason::tr("a chapter refers to a program chain that is not there"));
        if (part.pgcn - 1 != pgcIndex) {
            if (!cells.isEmpty())
                pgcStart += cells.last();
            pgcIndex = part.pgcn - 1;
            Expected<QList<qint64>> starts = cellStarts(ifo, pgcIndex, path);
            if (!starts)
                return starts.error();
            cells = *starts;
        }
        const pgc_t &pgc = *ifo.vts_pgcit->pgci_srp[pgcIndex].pgc;
        const bool hasProgram = part.pgn >= 1 && part.pgn <= pgc.nr_of_programs && pgc.program_map;
        const int cell = hasProgram ? pgc.program_map[part.pgn - 1] : 0;
        if (cell < 1 || cell > pgc.nr_of_cells)
            return badInput(path, Reason::tr("a chapter refers to a program or cell that is not there"));
        ticks.append(pgcStart + cells[cell - 1]);
    }
    ticks.append(pgcStart + (cells.isEmpty() ? 0 : cells.last()));
    return ticks;
}

Expected<QByteArray> readIfo(const ReadRequest &request)
{
    const QByteArray bytes = request.file.read(kMaxIfoBytes + 1);
    if (bytes.size() > kMaxIfoBytes)
        return badInput(request.path, Reason::tr("too large for a title set's IFO"), kMaxIfoBytes);
    if (bytes.startsWith("DVDVIDEO-VMG")) {
        return badInput(request.path,
                        Reason::tr("this is the disc's menu IFO (VIDEO_TS.IFO), which holds no chapters; "
                                   "read a title set's VTS_nn_0.IFO"),
                        0);
    }
    if (sharesProgramChains(bytes))
        return badInput(request.path,
                        Reason::tr("two entries of a program chain table point at one chain, which the DVD "
                                   "library cannot read safely"));
    if (tableEndsPastFile(bytes))
        return badInput(request.path, Reason::tr("a table of the title set ends past the end of the file"));
    return bytes;
}

} // namespace

Expected<ChapterList> readDvdTitleSetWithLibrary(const ReadRequest &request)
{
    const Expected<QByteArray> bytes = readIfo(request);
    if (!bytes)
        return bytes.error();
    QTemporaryDir disc;
    QFile copy(disc.filePath(QStringLiteral("VIDEO_TS/VTS_01_0.IFO")));
    if (!disc.isValid() || !QDir(disc.path()).mkdir(QStringLiteral("VIDEO_TS")) || !copy.open(QIODevice::WriteOnly)
        || copy.write(*bytes) != bytes->size() || !copy.flush()) {
        return Failure {Failure::Kind::ReadFailed, request.path, 0,
                        Reason::tr("cannot copy the IFO to a temporary folder: %1").arg(copy.errorString())};
    }
    static const dvd_logger_cb quiet {ignoreLog};
    // In UTF-8 on every system: libdvdread decodes names as UTF-8 on Windows too (into the wide
    // calls), where QFile::encodeName() gives the ANSI code page, and a temporary folder under a
    // user name outside ASCII would not be found.
    const std::unique_ptr<dvd_reader_t, DvdDeleter> dvd(DVDOpen2(nullptr, &quiet, disc.path().toUtf8().constData()));
    const std::unique_ptr<ifo_handle_t, IfoDeleter> ifo(dvd ? ifoOpen(dvd.get(), 1) : nullptr);
    if (!ifo || !ifo->vtsi_mat || !ifo->vts_ptt_srpt || !ifo->vts_pgcit)
        return badInput(request.path, Reason::tr("not a readable title set IFO"));

    const vts_ptt_srpt_t &titles = *ifo->vts_ptt_srpt;
    const int asked = request.settings.title;
    if (asked > titles.nr_of_srpts || asked < 0) {
        return badInput(request.path,
                        Reason::tr("title %1 was asked for; the title set has %2").arg(asked).arg(titles.nr_of_srpts));
    }
    QList<qint64> chosen;
    for (int i = 0; i < titles.nr_of_srpts; ++i) {
        if (asked != 0 && i != asked - 1)
            continue;
        Expected<QList<qint64>> ticks = titleChapterTicks(*ifo, titles.title[i], request.path);
        if (!ticks)
            return ticks.error();
        if (chosen.isEmpty() || ticks->last() > chosen.last())
            chosen = *ticks;
    }
    if (chosen.size() < 2) // no title, or only the title's end
        return Failure {Failure::Kind::NoChapters, request.path, 0, Reason::tr("the title has no chapters")};
    const qint64 end = chosen.takeLast(); // the title's end
    return numberedChapters(chosen, kTicksPerSecond, end);
}

} // namespace Tessaline

#ifdef TESSALINE_MODULE
extern "C" Q_DECL_EXPORT Tessaline::Expected<Tessaline::ChapterList>
tessalineReadDvdTitleSet(const Tessaline::ReadRequest &request)
{
    return Tessaline::readDvdTitleSetWithLibrary(request);
}
#endif
