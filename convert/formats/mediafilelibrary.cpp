#include "mediafile.h"

#include "failurereason.h"

#include <QIODevice>

extern "C" {
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

// libavformat's reads and seeks, on the file the conversion opened and checked (a regular file,
// so that nothing blocks).
int readFromDevice(void *device, uint8_t *buffer, int size)
{
    const qint64 read = static_cast<QIODevice *>(device)->read(reinterpret_cast<char *>(buffer), size);
    return read > 0 ? int(read) : read == 0 ? AVERROR_EOF : AVERROR(EIO);
}

int64_t seekDevice(void *opaque, int64_t offset, int whence)
{
    auto &device = *static_cast<QIODevice *>(opaque);
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

DeviceIo deviceIo(QIODevice &device)
{
    auto *buffer = static_cast<unsigned char *>(av_malloc(kReadBufferBytes));
    if (!buffer)
        return nullptr;
    AVIOContext *io = avio_alloc_context(buffer, kReadBufferBytes, 0, &device, readFromDevice, nullptr, seekDevice);
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
    const DeviceIo io = deviceIo(request.file);
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
#endif
