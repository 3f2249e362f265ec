// From "Save" to the progress dialog on screen, over 6,000 small chapter files, while busy loops
// (one per core, and two more) keep the machine loaded. The dialog is due half a second after
// "Save" however busy the machine is. Prints each run's time in ms, to the dialog's first paint,
// and their median.
//
// Usage: progressdelay [runs]   (default 5; on the X display when DISPLAY is set, else offscreen)

#include "chapterfiles.h"
#include "form1.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QListWidget>
#include <QProgressDialog>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTimer>

#include <algorithm>
#include <atomic>
#include <csignal>
#include <cstdio>
#include <vector>

#include <sys/wait.h>
#include <unistd.h>

namespace {

constexpr int kFiles = 6000;
constexpr int kChapters = 20; // about 2 KB a file
constexpr int kGiveUpMs = 60'000;

// Child processes that spin until killed.
std::vector<pid_t> startBusyLoops(long count)
{
    std::vector<pid_t> children;
    for (long i = 0; i < count; ++i) {
        const pid_t child = ::fork();
        if (child == 0) {
            std::atomic<unsigned long> spin = 0;
            for (;;)
                spin.fetch_add(1, std::memory_order_relaxed);
        }
        if (child > 0)
            children.push_back(child);
    }
    return children;
}

void stopBusyLoops(const std::vector<pid_t> &children)
{
    for (const pid_t child : children)
        ::kill(child, SIGKILL);
    for (const pid_t child : children)
        ::waitpid(child, nullptr, 0);
}

// Reports when a progress dialog is first drawn, and cancels the run it belongs to.
class DialogWatch : public QObject
{
public:
    qint64 shownAfterMs = -1;
    QElapsedTimer sinceSave;

protected:
    bool eventFilter(QObject *watched, QEvent *event) override
    {
        auto *dialog = qobject_cast<QProgressDialog *>(watched);
        if (event->type() == QEvent::Paint && dialog && shownAfterMs < 0) {
            shownAfterMs = sinceSave.elapsed();
            QTimer::singleShot(0, dialog, [dialog] {
                if (auto *cancel = dialog->findChild<QPushButton *>())
                    cancel->click();
            });
        }
        return false;
    }
};

// One run: the time from "Save" to the dialog, in ms; -1 when none was shown.
qint64 measureOnce(const QStringList &files)
{
    Tessaline::Form1 form;
    form.show();
    form.findChild<QListWidget *>(QStringLiteral("lstFiles"))->addItems(files);
    QEventLoop finished;
    form.setMessageBoxPresenter([&finished](QMessageBox &) { finished.quit(); });
    DialogWatch watch;
    qApp->installEventFilter(&watch);
    QCoreApplication::processEvents();

    QTimer::singleShot(kGiveUpMs, &finished, &QEventLoop::quit);
    watch.sinceSave.start();
    form.findChild<QPushButton *>(QStringLiteral("Command1"))->click();
    finished.exec();
    qApp->removeEventFilter(&watch);
    return watch.shownAfterMs;
}

} // namespace

int main(int argc, char **argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM") && qEnvironmentVariableIsEmpty("DISPLAY"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    const int runs = argc > 1 ? std::max(1, std::atoi(argv[1])) : 5;

    QTemporaryDir dir;
    const QStringList files = Tessaline::Bench::writeChapterFiles(dir.path(), kFiles, kChapters);
    if (files.isEmpty()) {
        std::fputs("cannot write the chapter files\n", stderr);
        return 1;
    }
    const long loops = ::sysconf(_SC_NPROCESSORS_ONLN) + 2;
    const std::vector<pid_t> busy = startBusyLoops(loops);
    std::vector<qint64> times;
    for (int run = 0; run < runs; ++run) {
        const qint64 ms = measureOnce(files);
        std::printf("run %d: %s\n", run + 1, ms < 0 ? "no dialog" : qPrintable(QString::number(ms) + u" ms"));
        std::fflush(stdout);
        times.push_back(ms < 0 ? kGiveUpMs : ms);
    }
    stopBusyLoops(busy);
    std::sort(times.begin(), times.end());
    std::printf("Save to progress dialog, %d files, %ld busy loops: median %lld ms over %d runs\n", kFiles, loops,
                static_cast<long long>(times[times.size() / 2]), runs);
    return 0;
}
