#include "mediafile.h"

#include "failurereason.h"

#include <QIODevice>

extern "C" {
#include <libavcodec/packet.h>
#include <libavformat/avformat.h>
#include <libavformat/avio.h>
#include <libavutil/error.h>
#include <libavutil/log.h>
#include <libavutil/mem.h>
}

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <limits>
#include <memory>
#include <vector>

namespace Tessaline {

namespace {

constexpr int kHighestScore = 40;
// libavformat's demuxers of text formats that have readers of their own.
constexpr const char *kTextDemuxers[] = {"ffmetadata", "webvtt"};
// The demuxers read, by AVInputFormat::name: containers that are one file each and open no other,
// those that hold chapters and the common ones that do not (whose files then hold no chapters,
// rather than failing as not media). Left out are playlists and manifests (hls, dash, concat,
// imf), which open the files they name, image sequences (image2), the network's (sdp, rtp, rtsp),
// scripts and devices.
// clang-format off
constexpr const char *kSingleFileDemuxers[] = {
    "matroska,webm", "mov,mp4,m4a,3gp,3g2,mj2", "ogg", "mp3", "flac", "wav", "w64", "aiff", "caf", "aac",
    "asf", "avi", "nut", "flv", "mpegts", "mpeg", "wtv",
};
// clang-format on
// Bytes libavformat reads from the file at a time.
constexpr int kReadBufferBytes = 64 * 1024;

// libavformat logs to standard error by default; its failures come back as values here.
void quietLibav()
{
    static const bool quiet = (av_log_set_level(AV_LOG_QUIET), true);
    Q_UNUSED(quiet);
}

QString libavErrorText(int error)
{
    char text[AV_ERROR_MAX_STRING_SIZE] = {};
    av_strerror(error, text, sizeof text);
    return QString::fromUtf8(text);
}

bool isSingleFileDemuxer(const AVInputFormat &format)
{
    return std::any_of(std::begin(kSingleFileDemuxers), std::end(kSingleFileDemuxers),
                       [&](const char *name) { return qstrcmp(format.name, name) == 0; });
}

// The file libavformat reads, through the callbacks below: the file the conversion opened and
// checked (a regular file, so that nothing blocks). While the keyframes' times are taken from
// their packets, the bytes of the packet about to be read (zeroed: from its start up to its end)
// are not needed: the callbacks give zeros in their place and move on, so that only the
// container's headers and index are read from the disk, never a frame.
struct LibraryInput
{
    QIODevice &device;
    qint64 zeroedStart = 0;
    qint64 zeroedEnd = 0; // zeroedStart: nothing is zeroed
};

int readFromDevice(void *opaque, uint8_t *buffer, int size)
{
    auto &input = *static_cast<LibraryInput *>(opaque);
    const qint64 position = input.device.pos();
    if (position >= input.zeroedStart && position < input.zeroedEnd) {
        const int zeroed = int(std::min<qint64>(size, input.zeroedEnd - position));
        std::fill_n(buffer, zeroed, 0);
        return input.device.seek(position + zeroed) ? zeroed : AVERROR(EIO);
    }
    if (position < input.zeroedStart && position + size > input.zeroedStart)
        size = int(input.zeroedStart - position); // the real bytes up to the zeroed ones
    const qint64 read = input.device.read(reinterpret_cast<char *>(buffer), size);
    return read > 0 ? int(read) : read == 0 ? AVERROR_EOF : AVERROR(EIO);
}

int64_t seekDevice(void *opaque, int64_t offset, int whence)
{
    QIODevice &device = static_cast<LibraryInput *>(opaque)->device;
    whence &= ~AVSEEK_FORCE;
    if (whence == AVSEEK_SIZE)
        return device.size();
    if (whence != SEEK_SET && whence != SEEK_CUR && whence != SEEK_END)
        return AVERROR(EINVAL);
    const qint64 base = whence == SEEK_CUR ? device.pos() : whence == SEEK_END ? device.size() : 0;
    if (offset > std::numeric_limits<qint64>::max() - base || base + offset < 0)
        return AVERROR(EINVAL);
    return device.seek(base + offset) ? base + offset : AVERROR(EIO);
}

// What a demuxer asks this context to open besides the file (a playlist's segments, a movie's
// references to other files) is refused: the one file given is all that is read.
int refuseToOpen(AVFormatContext *, AVIOContext **, const char *, int, AVDictionary **)
{
    return AVERROR(EPERM);
}

struct DeviceIoDeleter
{
    void operator()(AVIOContext *io) const
    {
        av_freep(&io->buffer);
        avio_context_free(&io);
    }
};
using DeviceIo = std::unique_ptr<AVIOContext, DeviceIoDeleter>;

DeviceIo deviceIo(LibraryInput &input)
{
    auto *buffer = static_cast<unsigned char *>(av_malloc(kReadBufferBytes));
    if (!buffer)
        return nullptr;
    AVIOContext *io = avio_alloc_context(buffer, kReadBufferBytes, 0, &input, readFromDevice, nullptr, seekDevice);
    if (!io)
        av_free(buffer);
    return DeviceIo(io);
}

struct InputDeleter
{
    void operator()(AVFormatContext *context) const { avformat_close_input(&context); }
};
using Input = std::unique_ptr<AVFormatContext, InputDeleter>;

// The file cannot be read, for libavformat's reason.
Failure libraryFailure(const QString &path, int error)
{
    return Failure {Failure::Kind::BadInput, path, 0,
                    Reason::tr("libavformat cannot read it (%1)").arg(libavErrorText(error))};
}

// The file's header read by the demuxer its content calls for, if that is one of the single
// files'. No name is given to libavformat: it probes by content alone and has no path to open.
Expected<Input> openedInput(AVIOContext &io, const QString &path)
{
    const auto failure = [&](const QString &reason) { return Failure {Failure::Kind::BadInput, path, 0, reason}; };
    const AVInputFormat *format = nullptr;
    if (const int error = av_probe_input_buffer2(&io, &format, "", nullptr, 0, 0); error < 0)
        return libraryFailure(path, error);
    if (!isSingleFileDemuxer(*format))
        return failure(Reason::tr("libavformat takes it for %1, and only single media files are read")
                           .arg(QString::fromUtf8(format->name)));
    AVFormatContext *context = avformat_alloc_context();
    if (!context)
        return libraryFailure(path, AVERROR(ENOMEM));
    context->pb = &io;
    context->io_open = refuseToOpen;
    AVDictionary *options = nullptr;
    // Names no protocol: the contexts a demuxer opens of its own (concat's) take this list, not io_open.
    av_dict_set(&options, "protocol_whitelist", "none", 0);
    const int error = avformat_open_input(&context, "", format, &options); // frees context on failure
    av_dict_free(&options);
    if (error < 0)
        return libraryFailure(path, error);
    return Input(context);
}

} // namespace

int probeMediaFileWithLibrary(QByteArrayView head)
{
    quietLibav();
    // libavformat's probes may read AVPROBE_PADDING_SIZE zero bytes past the end.
    QByteArray padded(head.size() + AVPROBE_PADDING_SIZE, '\0');
    std::copy(head.begin(), head.end(), padded.begin());
    AVProbeData probe {};
    probe.filename = ""; // by content only, whatever the name
    probe.buf = reinterpret_cast<unsigned char *>(padded.data());
    probe.buf_size = int(head.size());
    int score = 0;
    const AVInputFormat *format = av_probe_input_format3(&probe, 1, &score);
    if (!format || score <= AVPROBE_SCORE_MAX / 2)
        return 0;
    for (const char *text : kTextDemuxers) {
        if (qstrcmp(format->name, text) == 0)
            return 0;
    }
    return score * kHighestScore / AVPROBE_SCORE_MAX;
}

Expected<ChapterList> readMediaFileWithLibrary(const ReadRequest &request)
{
    quietLibav();
    LibraryInput input {request.file};
    const DeviceIo io = deviceIo(input);
    if (!io)
        return libraryFailure(request.path, AVERROR(ENOMEM));
    const Expected<Input> context = openedInput(*io, request.path);
    if (!context)
        return context.error();
    if ((*context)->nb_chapters == 0)
        return Failure {Failure::Kind::NoChapters, request.path, 0, Reason::tr("the file has no chapters")};
    ChapterList chapters;
    for (unsigned i = 0; i < (*context)->nb_chapters; ++i) {
        const AVChapter &chapter = *(*context)->chapters[i];
        const std::optional<qint64> ms
            = roundedMilliseconds(chapter.start, chapter.time_base.num, chapter.time_base.den);
        if (!ms)
            return Failure {Failure::Kind::BadInput, request.path, 0,
                            Reason::tr("chapter %1 has no usable time base").arg(i + 1)};
        const AVDictionaryEntry *title = av_dict_get(chapter.metadata, "title", nullptr, 0);
        const std::optional<qint64> end = chapter.end == AV_NOPTS_VALUE
            ? std::nullopt
            : roundedMilliseconds(chapter.end, chapter.time_base.num, chapter.time_base.den);
        chapters.append(Chapter {*ms, title ? QString::fromUtf8(title->value) : QString(), 0, end});
    }
    return chapters;
}

namespace {

// Seeks that land past a keyframe before its packet is given up on, and the packets read on from a
// seek that lands before it.
constexpr int kSeekAttempts = 4;
constexpr int kPacketsBeforeKeyframe = 256;
// The seeks to keyframes, times the packets indexed (the steps of each of libavformat's MP4
// seeks), that a file may ask for: some ten seconds. A 2-hour film at 60 fps with a keyframe every
// 2 s asks for 1.6e9; an index that lists millions of keyframes among millions of packets, which
// a few bytes of a hostile MP4 can declare, is refused.
constexpr double kLargestSeekWork = 1.6e10;

struct PacketDeleter
{
    void operator()(AVPacket *packet) const { av_packet_free(&packet); }
};
using Packet = std::unique_ptr<AVPacket, PacketDeleter>;

Failure keyframeFailure(const QString &path, const QString &reason)
{
    return Failure {Failure::Kind::BadInput, path, 0, reason};
}

// The first video stream that is not a cover picture (which MP4 and Matroska audio files carry as
// a video stream of one frame), or null.
AVStream *firstVideoStream(AVFormatContext &context)
{
    for (unsigned i = 0; i < context.nb_streams; ++i) {
        AVStream *stream = context.streams[i];
        if (stream->codecpar->codec_type == AVMEDIA_TYPE_VIDEO && !(stream->disposition & AV_DISPOSITION_ATTACHED_PIC))
            return stream;
    }
    return nullptr;
}

// A file opened for its keyframes, and its first video stream, whose packets alone are read, with
// their times as the container gives them (no parser looks at their bytes).
struct KeyframeSource
{
    DeviceIo io;
    Input context; // closed before io is freed
    AVStream *stream;
};

Expected<KeyframeSource> keyframeSource(LibraryInput &input, const QString &path)
{
    if (!input.device.seek(0))
        return Failure {Failure::Kind::ReadFailed, path, 0, input.device.errorString()};
    DeviceIo io = deviceIo(input);
    if (!io)
        return libraryFailure(path, AVERROR(ENOMEM));
    Expected<Input> opened = openedInput(*io, path);
    if (!opened)
        return opened.error();
    AVFormatContext &context = **opened;
    AVStream *const stream = firstVideoStream(context);
    if (!stream)
        return keyframeFailure(path, Reason::tr("the file has no video stream"));
    context.flags |= AVFMT_FLAG_NOPARSE | AVFMT_FLAG_NOFILLIN;
    for (unsigned i = 0; i < context.nb_streams; ++i) {
        if (context.streams[i] != stream)
            context.streams[i]->discard = AVDISCARD_ALL;
    }
    return KeyframeSource {std::move(io), std::move(*opened), stream};
}

// A time in the stream's time base as whole ms, rounded up; nothing when there is none.
std::optional<qint64> millisecondsAtOrAfter(int64_t ticks, AVRational timeBase)
{
    if (ticks == AV_NOPTS_VALUE || timeBase.num <= 0 || timeBase.den <= 0)
        return std::nullopt;
    const int64_t ms = av_rescale_q_rnd(ticks, timeBase, AVRational {1, 1000}, AV_ROUND_UP);
    return ms == INT64_MIN ? std::nullopt : std::optional<qint64>(ms);
}

// The next packet of the stream (the others are passed over), or libavformat's error
// (AVERROR_EOF at the end).
int readPacketOf(AVFormatContext &context, const AVStream &stream, AVPacket &packet)
{
    for (;;) {
        av_packet_unref(&packet);
        if (const int error = av_read_frame(&context, &packet); error < 0)
            return error;
        if (packet.stream_index == stream.index)
            return 0;
    }
}

int64_t presentationTime(const AVPacket &packet)
{
    return packet.pts != AV_NOPTS_VALUE ? packet.pts : packet.dts;
}

// The keyframe entries of the stream's index, in decoding order.
std::vector<AVIndexEntry> keyframeEntries(AVStream &stream)
{
    std::vector<AVIndexEntry> entries;
    const int count = avformat_index_get_entries_count(&stream);
    for (int i = 0; i < count; ++i) {
        const AVIndexEntry *entry = avformat_index_get_entry(&stream, i);
        if (entry && (entry->flags & AVINDEX_KEYFRAME))
            entries.push_back(*entry);
    }
    return entries;
}

// Zeroes the bytes of an index entry's packet while it lives (see LibraryInput).
class ZeroedPacket
{
public:
    ZeroedPacket(LibraryInput &input, const AVIndexEntry &entry) : m_input(input)
    {
        // Never past the end: a packet that an index makes larger than the file gets its bytes
        // up to the end only, and is no larger in memory.
        m_input.zeroedStart = entry.pos;
        m_input.zeroedEnd = std::clamp<qint64>(entry.pos + std::max(entry.size, 0), entry.pos, m_input.device.size());
    }
    ~ZeroedPacket() { m_input.zeroedStart = m_input.zeroedEnd = 0; }
    ZeroedPacket(const ZeroedPacket &) = delete;
    ZeroedPacket &operator=(const ZeroedPacket &) = delete;

private:
    LibraryInput &m_input;
};

// The presentation times of the keyframes of an index of decoding times (MP4's sync samples), each
// read from the keyframe's packet, to which libavformat seeks.
class KeyframePackets
{
public:
    KeyframePackets(AVFormatContext &context, AVStream &stream, LibraryInput &input, AVPacket &packet,
                    const QString &path)
        : m_context(context), m_stream(stream), m_input(input), m_packet(packet), m_path(path)
    { }

    // Demuxers that seek by presentation time (MP4's) land on the packet decoded at a time when
    // asked for a time that much later: as much as the first packet, read from the start, is
    // presented after it is decoded.
    void learnSeekShift()
    {
        if (readPacketOf(m_context, m_stream, m_packet) == 0 && m_packet.pts != AV_NOPTS_VALUE
            && m_packet.dts != AV_NOPTS_VALUE)
            m_seekShift = m_packet.pts - m_packet.dts;
    }

    int64_t seekShift() const { return m_seekShift; }

    // Appends the keyframe's time to times, unless it is not shown (cut by an MP4's edit list).
    MaybeFailure appendTimeOf(const AVIndexEntry &entry, QList<qint64> &times)
    {
        for (int attempt = 0; attempt < kSeekAttempts; ++attempt) {
            const int error = av_seek_frame(&m_context, m_stream.index, entry.timestamp + m_seekShift,
                                            AVSEEK_FLAG_BACKWARD | AVSEEK_FLAG_ANY);
            if (error < 0)
                return libraryFailure(m_path, error);
            const Expected<bool> found = readOnTo(entry);
            if (!found)
                return found.error();
            if (!*found)
                continue;
            if (m_packet.flags & AV_PKT_FLAG_DISCARD)
                return std::nullopt;
            if (const std::optional<qint64> ms = millisecondsAtOrAfter(presentationTime(m_packet), m_stream.time_base))
                times.append(*ms);
            return std::nullopt;
        }
        return notFound(entry);
    }

private:
    // Reads on from where a seek landed to the keyframe's packet (into m_packet): true when it is
    // there, false when the seek landed past it (and m_seekShift then lands earlier).
    Expected<bool> readOnTo(const AVIndexEntry &entry)
    {
        const ZeroedPacket zeroed(m_input, entry);
        for (int read = 0; read < kPacketsBeforeKeyframe; ++read) {
            if (const int error = readPacketOf(m_context, m_stream, m_packet); error < 0)
                return libraryFailure(m_path, error);
            const bool isEntry
                = m_packet.pos == entry.pos || (m_packet.dts == entry.timestamp && (m_packet.flags & AV_PKT_FLAG_KEY));
            if (isEntry)
                return true;
            if (m_packet.dts != AV_NOPTS_VALUE && m_packet.dts > entry.timestamp) {
                if (read > 0)
                    break;
                m_seekShift -= m_packet.dts - entry.timestamp;
                return false;
            }
        }
        return notFound(entry);
    }

    Failure notFound(const AVIndexEntry &entry) const
    {
        return keyframeFailure(m_path,
                               Reason::tr("the keyframe that its index places at byte %1 is not there").arg(entry.pos));
    }

    AVFormatContext &m_context;
    AVStream &m_stream;
    LibraryInput &m_input;
    AVPacket &m_packet;
    const QString &m_path;
    int64_t m_seekShift = 0; // in the stream's time base
};

// The keyframes of a Matroska file without Cues, from its blocks' keyframe flags: the whole file
// is read, and progress told what has been read so far (each time a further hundredth is).
Expected<QList<qint64>> blockKeyframeTimes(AVFormatContext &context, AVStream &stream, AVPacket &packet,
                                           const KeyframeRequest &request)
{
    const qint64 total = request.file.size();
    qint64 told = -1; // hundredths
    QList<qint64> times;
    int error = 0;
    while ((error = readPacketOf(context, stream, packet)) == 0) {
        if (packet.flags & AV_PKT_FLAG_KEY) {
            if (const std::optional<qint64> ms = millisecondsAtOrAfter(presentationTime(packet), stream.time_base))
                times.append(*ms);
        }
        const qint64 done = std::clamp<qint64>(avio_tell(context.pb), 0, total);
        if (request.progress && total > 0 && done * 100 / total != told) {
            told = done * 100 / total;
            request.progress(done, total);
        }
    }
    if (error != AVERROR_EOF)
        return libraryFailure(request.path, error);
    return times;
}

} // namespace

Expected<QList<qint64>> readVideoKeyframesWithLibrary(const KeyframeRequest &request)
{
    quietLibav();
    LibraryInput input {request.file};
    const Packet packet(av_packet_alloc());
    if (!packet)
        return libraryFailure(request.path, AVERROR(ENOMEM));
    Expected<KeyframeSource> source = keyframeSource(input, request.path);
    if (!source)
        return source.error();
    if (qstrcmp(source->context->iformat->name, "matroska,webm") == 0) {
        Expected<QList<qint64>> blocks = blockKeyframeTimes(*source->context, *source->stream, *packet, request);
        return blocks ? keyframeTimeline(std::move(*blocks)) : blocks;
    }
    const std::vector<AVIndexEntry> entries = keyframeEntries(*source->stream);
    if (entries.empty())
        return keyframeFailure(request.path,
                               Reason::tr("the file has no index of its keyframes, and only Matroska "
                                          "files are read whole for them"));
    KeyframePackets keyframes(*source->context, *source->stream, input, *packet, request.path);
    keyframes.learnSeekShift();
    QList<qint64> times;
    const int packets = avformat_index_get_entries_count(source->stream);
    if (qsizetype(entries.size()) == packets) {
        // Every packet a keyframe (video of intra frames alone): none is shown out of its
        // decoding order, so each is shown as long after it is decoded as the first.
        for (const AVIndexEntry &entry : entries) {
            const std::optional<qint64> ms
                = millisecondsAtOrAfter(entry.timestamp + keyframes.seekShift(), source->stream->time_base);
            if (ms && !(entry.flags & AVINDEX_DISCARD_FRAME))
                times.append(*ms);
        }
        return keyframeTimeline(std::move(times));
    }
    if (double(entries.size()) * packets > kLargestSeekWork)
        return keyframeFailure(request.path,
                               Reason::tr("its index lists %1 keyframes among %2 packets, more than are sought")
                                   .arg(entries.size())
                                   .arg(packets));
    for (const AVIndexEntry &entry : entries) {
        if (MaybeFailure failure = keyframes.appendTimeOf(entry, times))
            return *failure;
    }
    return keyframeTimeline(std::move(times));
}

} // namespace Tessaline

#ifdef TESSALINE_MODULE
extern "C" Q_DECL_EXPORT int tessalineProbeMediaFile(QByteArrayView head)
{
    return Tessaline::probeMediaFileWithLibrary(head);
}

extern "C" Q_DECL_EXPORT Tessaline::Expected<Tessaline::ChapterList>
tessalineReadMediaFile(const Tessaline::ReadRequest &request)
{
    return Tessaline::readMediaFileWithLibrary(request);
}

extern "C" Q_DECL_EXPORT Tessaline::Expected<QList<qint64>>
tessalineReadVideoKeyframes(const Tessaline::KeyframeRequest &request)
{
    return Tessaline::readVideoKeyframesWithLibrary(request);
}
#endif
