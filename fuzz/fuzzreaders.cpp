// libFuzzer target: raw bytes through the readers that parse them here or hand them to a library
// (Blu-ray playlists, DVD title set IFOs, Matroska files, other media files) and through the text
// readers.
//
// Input layout: byte 0 selects the reader (below 0x80 its value modulo 3: mpls, dvd, matroska;
// from 0x80 its value modulo 6: cue, webvtt, ffmetadata, timestamps, media files, matroska-xml);
// the remaining bytes are the file. A reader either fails with a reason of its own kinds, or
// yields at least one chapter; the playlist and DVD readers yield times in order from 0 up, titled
// "Chapter 01", ...; the text readers' chapters carry the line they were read from. Matroska and media files
// are read for their keyframes too, which either fail with a reason or come sorted, each once,
// from 0 up.
#include "codepage.h"
#include "cuesheet.h"
#include "dvdtitle.h"
#include "ffmetadata.h"
#include "matroskafile.h"
#include "matroskaxml.h"
#include "mediafile.h"
#include "mplsplaylist.h"
#include "timestamplist.h"
#include "webvtt.h"

#include <QBuffer>

#include <cstdint>
#include <cstdio>
#include <cstdlib>

namespace {

[[noreturn]] void fail(const char *what, const QString &detail = {})
{
    std::fprintf(stderr, "fuzzreaders: %s %s\n", what, detail.toUtf8().constData());
    std::abort();
}

struct Reader
{
    int (*probe)(QByteArrayView head);
    Tessaline::Expected<Tessaline::ChapterList> (*read)(const Tessaline::ReadRequest &request);
    bool numbered; // times in order, titled "Chapter NN"
    bool lined = false; // every chapter has its line
    // What reads the file for its video's keyframes too, if anything.
    Tessaline::Expected<QList<qint64>> (*keyframes)(const Tessaline::KeyframeRequest &request) = nullptr;
};

const Reader kBinaryReaders[] = {
    {Tessaline::probeMplsPlaylist, Tessaline::readMplsPlaylist, true},
    {Tessaline::probeDvdTitleSet, Tessaline::readDvdTitleSetWithLibrary, true},
    {Tessaline::probeMatroskaFile, Tessaline::readMatroskaFileWithLibrary, false, false,
     Tessaline::readMatroskaCueKeyframesWithLibrary},
};
const Reader kOtherReaders[] = {
    {Tessaline::probeCueSheet, Tessaline::readCueSheet, false, true},
    {Tessaline::probeWebVtt, Tessaline::readWebVtt, false, true},
    {Tessaline::probeFfmetadata, Tessaline::readFfmetadata, false, true},
    {Tessaline::probeTimestampList, Tessaline::readTimestampList, false, true},
    {Tessaline::probeMediaFileWithLibrary, Tessaline::readMediaFileWithLibrary, false, false,
     Tessaline::readVideoKeyframesWithLibrary},
    {Tessaline::probeMatroskaXml, Tessaline::readMatroskaXml, false, true},
};

void checkChapters(const Tessaline::ChapterList &chapters, const Reader &reader)
{
    if (chapters.isEmpty())
        fail("read without chapters and without a failure");
    for (const Tessaline::Chapter &chapter : chapters) {
        if (reader.lined && chapter.line < 1)
            fail("a text chapter without its line", chapter.title);
    }
    if (!reader.numbered)
        return;
    for (qsizetype i = 0; i < chapters.size(); ++i) {
        if (chapters[i].startMs < (i == 0 ? 0 : chapters[i - 1].startMs))
            fail("chapter times out of order", QString::number(chapters[i].startMs));
        if (chapters[i].title != QStringLiteral("Chapter %1").arg(i + 1, 2, 10, QLatin1Char('0')))
            fail("chapter title", chapters[i].title);
    }
}

void checkKeyframes(QByteArray &bytes, const QString &path, const Reader &reader)
{
    QBuffer file(&bytes);
    file.open(QIODevice::ReadOnly);
    const std::function<void(qint64, qint64)> progress = [](qint64 done, qint64 total) {
        if (done < 0 || done > total)
            fail("keyframe progress out of range", QString::number(done));
    };
    const Tessaline::Expected<QList<qint64>> read = reader.keyframes({path, file, progress});
    if (!read) {
        if (read.error().path != path || read.error().detail.isEmpty())
            fail("keyframe failure without its path or reason");
        return;
    }
    for (qsizetype i = 0; i < read->size(); ++i) {
        if ((*read)[i] < (i == 0 ? 0 : (*read)[i - 1] + 1))
            fail("keyframes out of order", QString::number((*read)[i]));
    }
}

} // namespace

// Leaks of the libraries on malformed files, not ours to find again: libdvdread leaks a table on
// some IFOs that it then refuses; libebml 1.4 leaks a string's buffer when the file ends inside
// the string (its ReadData throws from readFully before freeing it), which the reader reports.
extern "C" const char *__lsan_default_suppressions()
{
    return "leak:libdvdread.so\nleak:libebml::EbmlUnicodeString::ReadData\n";
}

// libdvdread asks calloc for absurd sizes on some malformed IFOs and copes with the null it gets.
extern "C" const char *__asan_default_options()
{
    return "allocator_may_return_null=1";
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    if (size == 0)
        return 0;
    const Reader &reader = data[0] >= 0x80 ? kOtherReaders[(data[0] - 0x80) % std::size(kOtherReaders)]
                                           : kBinaryReaders[data[0] % std::size(kBinaryReaders)];
    QByteArray bytes(reinterpret_cast<const char *>(data) + 1, qsizetype(size - 1));
    const int score = reader.probe(bytes);
    if ((score < 0 && score != Tessaline::kProbeUndecided) || score > 100)
        fail("probe score out of range", QString::number(score));

    static Tessaline::Expected<Tessaline::CodePage> codePage = Tessaline::CodePage::open(1252);
    if (!codePage)
        fail("code page 1252 not supported");
    QBuffer file(&bytes);
    file.open(QIODevice::ReadOnly);
    const QString path = QStringLiteral("fuzzed");
    const Tessaline::ReadSettings settings {1 + data[0] / 3 % 3, data[0] / 9 % 3};
    if (reader.keyframes)
        checkKeyframes(bytes, path, reader);
    const Tessaline::Expected<Tessaline::ChapterList> read = reader.read({path, file, *codePage, settings});
    if (!read) {
        const Tessaline::Failure &why = read.error();
        if (why.kind != Tessaline::Failure::Kind::BadInput && why.kind != Tessaline::Failure::Kind::NoChapters
            && why.kind != Tessaline::Failure::Kind::TimeOutOfRange)
            fail("unexpected failure kind", why.detail);
        // A text file without chapters needs no reason beyond its kind.
        const bool needsReason = !(reader.lined && why.kind == Tessaline::Failure::Kind::NoChapters);
        if (why.path != path || (needsReason && why.detail.isEmpty()))
            fail("failure without its path or reason");
        return 0;
    }
    checkChapters(*read, reader);
    return 0;
}
