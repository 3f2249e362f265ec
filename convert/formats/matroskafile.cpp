#include "matroskafile.h"

#include "formatmodule.h"

namespace Tessaline {

int probeMatroskaFile(QByteArrayView head)
{
    if (!head.startsWith("\x1A\x45\xDF\xA3"))
        return 0;
    // The DocType element (42 82, a one-byte size) within the EBML header, which is short.
    const QByteArrayView header = head.first(std::min<qsizetype>(head.size(), 64));
    return header.contains("\x42\x82\x88matroska") || header.contains("\x42\x82\x84webm") ? 100 : 0;
}

Expected<ChapterList> readMatroskaFile(const ReadRequest &request)
{
    return readThroughModule("tessaline-matroska", "tessalineReadMatroskaFile", request);
}

} // namespace Tessaline
