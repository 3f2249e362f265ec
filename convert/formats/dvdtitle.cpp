#include "dvdtitle.h"

#include "formatmodule.h"

namespace Tessaline {

int probeDvdTitleSet(QByteArrayView head)
{
    return head.startsWith("DVDVIDEO-VTS") || head.startsWith("DVDVIDEO-VMG") ? 100 : 0;
}

Expected<ChapterList> readDvdTitleSet(const ReadRequest &request)
{
    return readThroughModule("tessaline-dvd", "tessalineReadDvdTitleSet", request);
}

} // namespace Tessaline
