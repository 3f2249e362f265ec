#include "mediafile.h"

#include "formatmodule.h"

#include <algorithm>

namespace Tessaline {

namespace {

constexpr char kModule[] = "tessaline-media";

bool canOnlyBeText(QByteArrayView head)
{
    if (head.startsWith("\xFF\xFE") || head.startsWith("\xFE\xFF"))
        return true;
    return std::none_of(head.begin(), head.end(), [](char c) {
        const uchar byte = uchar(c);
        return byte < 0x20 && byte != '\t' && byte != '\n' && byte != '\r' && byte != '\f';
    });
}

// The playlists libavformat reads by their first line (HLS and M3U, its own concat lists): text
// that names other files, whatever bytes follow.
bool isPlaylistText(QByteArrayView head)
{
    if (head.startsWith("\xEF\xBB\xBF"))
        head = head.sliced(3);
    return head.startsWith("#EXTM3U") || head.startsWith("ffconcat");
}

} // namespace

int probeMediaFile(QByteArrayView head)
{
    if (canOnlyBeText(head) || isPlaylistText(head))
        return 0;
    const Expected<QFunctionPointer> probe = moduleFunction(kModule, "tessalineProbeMediaFile");
    return probe ? reinterpret_cast<int (*)(QByteArrayView)>(*probe)(head) : 1;
}

Expected<ChapterList> readMediaFile(const ReadRequest &request)
{
    return inMediaFile(readThroughModule(kModule, "tessalineReadMediaFile", request), request.path);
}

Expected<QList<qint64>> readVideoKeyframes(const KeyframeRequest &request)
{
    return keyframesThroughModule(kModule, "tessalineReadVideoKeyframes", request);
}

} // namespace Tessaline
