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

} // namespace

int probeMediaFile(QByteArrayView head)
{
    if (canOnlyBeText(head))
        return 0;
    const Expected<QFunctionPointer> probe = moduleFunction(kModule, "tessalineProbeMediaFile");
    return probe ? reinterpret_cast<int (*)(QByteArrayView)>(*probe)(head) : 1;
}

Expected<ChapterList> readMediaFile(const ReadRequest &request)
{
    return readThroughModule(kModule, "tessalineReadMediaFile", request);
}

} // namespace Tessaline
