// The preview of a chapter file of 1,000,000 chapters (about 98 MB): the time from the request to
// the table being shown (the pane's debounce included), and the longest the window's event loop
// went without turning meanwhile, against a 5 ms timer: the pane computes off the GUI thread, so
// the stall is the table's own (showing its 10,000 rows), not the file's.
//
// Usage: previewlarge [runs]   (default 3; offscreen unless QT_QPA_PLATFORM is set)

#include "chapterfiles.h"
#include "previewpane.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QTemporaryDir>
#include <QTimer>

#include <algorithm>
#include <cstdio>

namespace {

constexpr qsizetype kChapters = 1'000'000;
constexpr int kTickMs = 5;

struct Measure
{
    qint64 shownMs = 0; // from showFile to previewShown
    qint64 longestStallMs = 0; // between two turns of the event loop
};

Measure measureOnce(const QString &path)
{
    Tessaline::PreviewPane pane;
    pane.show();
    QEventLoop shown;
    QObject::connect(&pane, &Tessaline::PreviewPane::previewShown, &shown, &QEventLoop::quit);
    Measure measure;
    QElapsedTimer sinceRequest, sinceTick;
    QTimer tick;
    tick.setInterval(kTickMs);
    QObject::connect(&tick, &QTimer::timeout,
                     [&] { measure.longestStallMs = std::max(measure.longestStallMs, sinceTick.restart()); });
    sinceRequest.start();
    sinceTick.start();
    tick.start();
    pane.showFile(path, {});
    shown.exec();
    measure.shownMs = sinceRequest.elapsed();
    measure.longestStallMs = std::max(measure.longestStallMs, sinceTick.elapsed());
    return measure;
}

// Writes the file, its bytes held only while it is written.
bool writeChapterFile(const QString &path)
{
    QFile file(path);
    const QByteArray bytes = Tessaline::Bench::chapterFileBytes(kChapters);
    return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size();
}

} // namespace

int main(int argc, char **argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    const int runs = argc > 1 ? std::max(1, std::atoi(argv[1])) : 3;

    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("large.txt"));
    if (!writeChapterFile(path)) {
        std::fputs("cannot write the chapter file\n", stderr);
        return 1;
    }
    for (int run = 0; run < runs; ++run) {
        const Measure measure = measureOnce(path);
        std::printf("run %d: shown after %lld ms, longest stall of the event loop %lld ms\n", run + 1,
                    static_cast<long long>(measure.shownMs), static_cast<long long>(measure.longestStallMs));
        std::fflush(stdout);
    }
    return 0;
}
