// A drop of many chapter files onto the main window: the intake (MessageProc appending every path
// and widening the scroll range) and the file list laying itself out afterwards. The target is
// 10,000 paths in under half a second, growing linearly with the number of paths.

#include "form1.h"

#include <QApplication>
#include <QDropEvent>
#include <QListWidget>
#include <QMimeData>
#include <QUrl>

#include <benchmark/benchmark.h>

#include <memory>

namespace {

// Paths of varied length, the later ones mostly longer, as a season's folders give them.
QList<QUrl> chapterUrls(int count)
{
    QList<QUrl> urls;
    urls.reserve(count);
    for (int i = 0; i < count; ++i) {
        const QString path = QStringLiteral("/home/user/Videos/Series %1/Season %2/章节 Episode %3%4.txt")
                                 .arg(i % 7)
                                 .arg(i / 100)
                                 .arg(i)
                                 .arg(QString(i % 40, u'x'));
        urls.append(QUrl::fromLocalFile(path));
    }
    return urls;
}

void dropOnWindow(benchmark::State &state)
{
    const int count = int(state.range(0));
    QMimeData mimeData;
    mimeData.setUrls(chapterUrls(count));
    for (auto _ : state) {
        state.PauseTiming();
        auto form = std::make_unique<Tessaline::Form1>();
        form->show();
        auto *list = form->findChild<QListWidget *>(QStringLiteral("lstFiles"));
        QCoreApplication::processEvents();
        state.ResumeTiming();

        QDragEnterEvent enter(QPoint(10, 10), Qt::CopyAction, &mimeData, Qt::LeftButton, {});
        QCoreApplication::sendEvent(form.get(), &enter);
        QDropEvent drop(QPointF(10, 10), Qt::CopyAction, &mimeData, Qt::LeftButton, {});
        QCoreApplication::sendEvent(form.get(), &drop);
        QCoreApplication::processEvents(); // the list's layout, delayed until the event loop runs
        list->doItemsLayout();

        state.PauseTiming();
        if (list->count() != count)
            state.SkipWithError("not every path was listed");
        form.reset();
        state.ResumeTiming();
    }
    state.SetComplexityN(count);
}
BENCHMARK(dropOnWindow)->Arg(1000)->Arg(10000)->Arg(20000)->Unit(benchmark::kMillisecond)->Complexity(benchmark::oN);

} // namespace

int main(int argc, char **argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
