#include "matroskafile.h"

#include <QIODevice>

#include <ebml/EbmlHead.h>
#include <ebml/EbmlStream.h>
#include <ebml/EbmlSubHead.h>
#include <ebml/IOCallback.h>
#include <matroska/KaxChapters.h>
#include <matroska/KaxCluster.h>
#include <matroska/KaxSeekHead.h>
#include <matroska/KaxSegment.h>
#include <matroska/KaxSemantic.h>

#include <algorithm>
#include <memory>

// Through libebml and libmatroska rather than libavformat, which merges every edition into one
// list and drops chapters that start before one already read. The Chapters element is found
// through the SeekHead (or among the top-level elements before the first Cluster) and read alone,
// so that a file of any size costs a few small reads.

namespace Tessaline {

namespace {

using namespace libebml;
using namespace libmatroska;

constexpr quint64 kMaxMetadataBytes = 16 << 20; // a SeekHead or the Chapters: a few KB in practice
constexpr quint64 kUpToEnd = ~quint64(0);

// libebml's reads and seeks over the opened file, through a window of kWindowBytes held here:
// libebml reads each element's head and seeks back, and every seek of a QFile is a system call
// (1,700 of them for 100 chapters), so seeks only move the position and reads come from the window.
class DeviceCallback : public IOCallback
{
public:
    explicit DeviceCallback(QIODevice &device) : m_device(device) { }

    uint32 read(void *buffer, size_t size) override
    {
        auto *out = static_cast<char *>(buffer);
        size_t done = 0;
        while (done < size) {
            if (!inWindow(m_position) && !fillWindow())
                break;
            const qint64 offset = m_position - m_windowStart;
            const size_t part = std::min(size - done, size_t(m_window.size() - offset));
            std::copy_n(m_window.constData() + offset, part, out + done);
            done += part;
            m_position += qint64(part);
        }
        return uint32(done);
    }
    void setFilePointer(int64 offset, seek_mode mode) override
    {
        const qint64 base = mode == seek_current ? m_position : mode == seek_end ? m_device.size() : 0;
        m_position = std::max<qint64>(base + offset, 0);
    }
    size_t write(const void *, size_t) override { return 0; }
    uint64 getFilePointer() override { return uint64(m_position); }
    void close() override { }

private:
    static constexpr qint64 kWindowBytes = 64 * 1024;

    bool inWindow(qint64 position) const
    {
        return position >= m_windowStart && position < m_windowStart + m_window.size();
    }
    // The window from the current position; false at the end of the file or on a read error.
    bool fillWindow()
    {
        m_windowStart = m_position;
        m_window = m_device.seek(m_position) ? m_device.read(kWindowBytes) : QByteArray();
        return !m_window.isEmpty();
    }

    QIODevice &m_device;
    qint64 m_position = 0; // libebml's, in bytes from the start of the file
    qint64 m_windowStart = 0;
    QByteArray m_window;
};

class ChapterReader
{
public:
    explicit ChapterReader(const ReadRequest &request)
        : m_request(request), m_callback(request.file), m_stream(m_callback), m_fileSize(quint64(request.file.size()))
    { }

    Expected<ChapterList> read()
    {
        if (MaybeFailure failure = readHeader())
            return *failure;
        const std::unique_ptr<EbmlElement> segment(m_stream.FindNextID(EBML_INFO(KaxSegment), m_fileSize));
        if (!dynamic_cast<KaxSegment *>(segment.get()))
            return badInput(QStringLiteral("no Segment after the EBML header"), qint64(m_callback.getFilePointer()));
        const Expected<quint64> chaptersAt = chaptersPosition(static_cast<KaxSegment &>(*segment));
        if (!chaptersAt)
            return chaptersAt.error();
        if (*chaptersAt == 0)
            return noChapters(QStringLiteral("the file has no chapters"));
        Expected<std::unique_ptr<EbmlElement>> chapters
            = elementAt(*chaptersAt, EBML_CONTEXT(segment.get()), EBML_ID(KaxChapters));
        if (!chapters)
            return chapters.error();
        return editionChapters(static_cast<KaxChapters &>(**chapters));
    }

private:
    Failure badInput(const QString &detail, qint64 offset = -1) const
    {
        return Failure {Failure::Kind::BadInput, m_request.path, 0, detail, offset};
    }
    Failure noChapters(const QString &detail) const
    {
        return Failure {Failure::Kind::NoChapters, m_request.path, 0, detail};
    }

    // Reads element whole, when it is small and within the file.
    MaybeFailure readWhole(EbmlElement &element)
    {
        if (!element.IsFiniteSize() || element.GetSize() > kMaxMetadataBytes || element.GetEndPosition() > m_fileSize)
            return badInput(QStringLiteral("an element's size runs past the file"),
                            qint64(element.GetElementPosition()));
        int upper = 0;
        EbmlElement *found = nullptr;
        element.Read(m_stream, EBML_CONTEXT(&element), upper, found, true);
        delete found;
        return std::nullopt;
    }

    MaybeFailure readHeader()
    {
        const std::unique_ptr<EbmlElement> head(m_stream.FindNextID(EBML_INFO(EbmlHead), m_fileSize));
        // FindNextID yields an element of another class for another id.
        auto *header = dynamic_cast<EbmlHead *>(head.get());
        if (!header || header->GetElementPosition() != 0)
            return badInput(QStringLiteral("no EBML header"), 0);
        if (MaybeFailure failure = readWhole(*head))
            return failure;
        const auto *docType = FindChild<EDocType>(*header);
        const std::string type = docType ? docType->GetValue() : std::string();
        if (type != "matroska" && type != "webm")
            return badInput(QStringLiteral("the EBML document is neither Matroska nor WebM"), 0);
        m_callback.setFilePointer(int64(head->GetEndPosition()), seek_beginning);
        return std::nullopt;
    }

    // The element starting at position, of the given id, read whole.
    Expected<std::unique_ptr<EbmlElement>> elementAt(quint64 position, const EbmlSemanticContext &context,
                                                     const EbmlId &id)
    {
        m_callback.setFilePointer(int64(position), seek_beginning);
        int upper = 0;
        std::unique_ptr<EbmlElement> element(m_stream.FindNextElement(context, upper, kUpToEnd, true));
        if (!element || element->GetElementPosition() != position || !(EbmlId(*element) == id))
            return badInput(QStringLiteral("the SeekHead points where no such element is"), qint64(position));
        if (MaybeFailure failure = readWhole(*element))
            return *failure;
        return element;
    }

    // Where the Chapters element starts: from a SeekHead, or met before the first Cluster; 0: none.
    Expected<quint64> chaptersPosition(const KaxSegment &segment)
    {
        for (;;) {
            int upper = 0;
            std::unique_ptr<EbmlElement> element(
                m_stream.FindNextElement(EBML_CONTEXT(&segment), upper, kUpToEnd, true));
            if (!element || upper > 0 || dynamic_cast<KaxCluster *>(element.get()) || !element->IsFiniteSize())
                return 0;
            if (dynamic_cast<KaxChapters *>(element.get()))
                return element->GetElementPosition();
            if (auto *seekHead = dynamic_cast<KaxSeekHead *>(element.get())) {
                if (MaybeFailure failure = readWhole(*seekHead))
                    return *failure;
                if (const quint64 position = seekedChapters(segment, *seekHead))
                    return position;
            }
            m_callback.setFilePointer(int64(element->GetEndPosition()), seek_beginning);
        }
    }

    static quint64 seekedChapters(const KaxSegment &segment, KaxSeekHead &seekHead)
    {
        const EbmlId chaptersId = EBML_ID(KaxChapters);
        for (EbmlElement *child : seekHead) {
            auto *seek = dynamic_cast<KaxSeek *>(child);
            const auto *id = seek ? FindChild<KaxSeekID>(*seek) : nullptr;
            const auto *position = seek ? FindChild<KaxSeekPosition>(*seek) : nullptr;
            if (id && position && id->GetSize() == chaptersId.GetLength()
                && EbmlId(id->GetBuffer(), unsigned(id->GetSize())) == chaptersId)
                return segment.GetGlobalPosition(position->GetValue());
        }
        return 0;
    }

    Expected<ChapterList> editionChapters(KaxChapters &chapters) const
    {
        int editions = 0;
        for (EbmlElement *child : chapters) {
            auto *edition = dynamic_cast<KaxEditionEntry *>(child);
            if (!edition || ++editions != m_request.settings.edition)
                continue;
            ChapterList list;
            for (EbmlElement *atomChild : *edition) {
                auto *atom = dynamic_cast<KaxChapterAtom *>(atomChild);
                if (!atom)
                    continue;
                const auto *start = FindChild<KaxChapterTimeStart>(*atom);
                if (!start)
                    return badInput(QStringLiteral("a ChapterAtom without ChapterTimeStart"),
                                    qint64(atom->GetElementPosition()));
                const std::optional<qint64> ms
                    = roundedMilliseconds(qint64(std::min<uint64>(start->GetValue(), INT64_MAX)), 1, 1'000'000'000);
                auto *display = FindChild<KaxChapterDisplay>(*atom);
                const auto *string = display ? FindChild<KaxChapterString>(*display) : nullptr;
                list.append(Chapter {*ms, string ? QString::fromStdString(string->GetValueUTF8()) : QString()});
            }
            if (list.isEmpty())
                return noChapters(QStringLiteral("edition %1 has no chapters").arg(editions));
            return list;
        }
        return badInput(
            QStringLiteral("edition %1 was asked for; the file has %2").arg(m_request.settings.edition).arg(editions));
    }

    const ReadRequest &m_request;
    DeviceCallback m_callback;
    EbmlStream m_stream;
    quint64 m_fileSize;
};

} // namespace

Expected<ChapterList> readMatroskaFileWithLibrary(const ReadRequest &request)
{
    try {
        return ChapterReader(request).read();
    } catch (const std::exception &error) {
        // libebml throws on some malformed elements.
        return Failure {Failure::Kind::BadInput, request.path, 0, QString::fromLocal8Bit(error.what())};
    }
}

} // namespace Tessaline

#ifdef TESSALINE_MODULE
extern "C" Q_DECL_EXPORT Tessaline::Expected<Tessaline::ChapterList>
tessalineReadMatroskaFile(const Tessaline::ReadRequest &request)
{
    return Tessaline::readMatroskaFileWithLibrary(request);
}
#endif
