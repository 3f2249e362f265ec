#include "matroskafile.h"

#include "formatmodule.h"

#include <bit>
#include <optional>

namespace Tessaline {

namespace {

constexpr char kModule[] = "tessaline-matroska";
constexpr quint32 kEbmlHeaderId = 0x1A45DFA3;
constexpr quint32 kDocTypeId = 0x4282;

// An EBML variable-length number at the start of data: its length in bytes (the count of leading
// zero bits of the first byte, plus one, up to maxLength) and its value, with the length marker
// kept (an element id) or taken away (a size).
struct VarInt
{
    int length;
    quint64 value;
};
std::optional<VarInt> readVarInt(QByteArrayView data, int maxLength, bool keepMarker)
{
    if (data.isEmpty() || data[0] == 0)
        return std::nullopt;
    const auto first = quint8(data[0]);
    const int length = std::countl_zero(first) + 1;
    if (length > maxLength || length > data.size())
        return std::nullopt;
    quint64 value = keepMarker ? first : first & (0xFF >> length);
    for (int i = 1; i < length; ++i)
        value = value << 8 | quint8(data[i]);
    return VarInt {length, value};
}

// The element at the start of data: its id, and its content, which must lie within data.
struct Element
{
    quint64 id;
    QByteArrayView content;
    qsizetype size; // of the whole element, in bytes
};
std::optional<Element> readElement(QByteArrayView data)
{
    const std::optional<VarInt> id = readVarInt(data, 4, true);
    const std::optional<VarInt> size = id ? readVarInt(data.sliced(id->length), 8, false) : std::nullopt;
    if (!size)
        return std::nullopt;
    const qsizetype head = id->length + size->length;
    if (size->value > quint64(data.size() - head))
        return std::nullopt;
    return Element {id->value, data.sliced(head, qsizetype(size->value)), head + qsizetype(size->value)};
}

// The DocType of the EBML header that data starts with; nothing without one.
std::optional<QByteArrayView> docType(QByteArrayView data)
{
    const std::optional<Element> header = readElement(data);
    if (!header || header->id != kEbmlHeaderId)
        return std::nullopt;
    for (QByteArrayView children = header->content; !children.isEmpty();) {
        const std::optional<Element> child = readElement(children);
        if (!child)
            return std::nullopt;
        if (child->id == kDocTypeId)
            return child->content;
        children = children.sliced(child->size);
    }
    return std::nullopt;
}

} // namespace

int probeMatroskaFile(QByteArrayView head)
{
    std::optional<QByteArrayView> type = docType(head);
    // An EBML string may be padded with zero bytes.
    while (type && type->endsWith('\0'))
        type->chop(1);
    return type && (*type == "matroska" || *type == "webm") ? 100 : 0;
}

Expected<ChapterList> readMatroskaFile(const ReadRequest &request)
{
    return inMediaFile(readThroughModule(kModule, "tessalineReadMatroskaFile", request), request.path);
}

Expected<QList<qint64>> readMatroskaCueKeyframes(const KeyframeRequest &request)
{
    return keyframesThroughModule(kModule, "tessalineReadMatroskaCueKeyframes", request);
}

} // namespace Tessaline
