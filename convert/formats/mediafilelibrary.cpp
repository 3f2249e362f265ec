#include "mediafile.h"

#include <QFile>

extern "C" {
#include <libavformat/avformat.h>
#include <libavutil/error.h>
#include <libavutil/log.h>
}

namespace Tessaline {

namespace {

constexpr int kHighestScore = 40;
// libavformat's demuxers of text formats that have readers of their own.
constexpr const char *kTextDemuxers[] = {"ffmetadata", "webvtt"};

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

struct InputDeleter
{
    void operator()(AVFormatContext *context) const { avformat_close_input(&context); }
};

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
    AVFormatContext *opened = nullptr;
    AVDictionary *options = nullptr;
    av_dict_set(&options, "protocol_whitelist", "file", 0); // never what a playlist in the file names
    const QByteArray url = "file:" + QFile::encodeName(request.path);
    const int error = avformat_open_input(&opened, url.constData(), nullptr, &options);
    av_dict_free(&options);
    if (error < 0)
        return Failure {Failure::Kind::BadInput, request.path, 0, libavErrorText(error)};
    const std::unique_ptr<AVFormatContext, InputDeleter> context(opened);
    if (context->nb_chapters == 0)
        return Failure {Failure::Kind::NoChapters, request.path, 0, QStringLiteral("the file has no chapters")};
    ChapterList chapters;
    for (unsigned i = 0; i < context->nb_chapters; ++i) {
        const AVChapter &chapter = *context->chapters[i];
        const std::optional<qint64> ms
            = roundedMilliseconds(chapter.start, chapter.time_base.num, chapter.time_base.den);
        if (!ms)
            return Failure {Failure::Kind::BadInput, request.path, 0,
                            QStringLiteral("chapter %1 has no usable time base").arg(i + 1)};
        const AVDictionaryEntry *title = av_dict_get(chapter.metadata, "title", nullptr, 0);
        chapters.append(Chapter {*ms, title ? QString::fromUtf8(title->value) : QString()});
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
