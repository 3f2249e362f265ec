// The cost of opening the window's "More" section: from the click on the arrow to the section's
// first paint, for a window shown and drawn beforehand. The first opening in the process is the
// one a user meets (it builds the section and loads what its controls need); later windows show
// what is left once that is loaded.
//
// Usage: sectionopen [windows]   (default 10; under $DISPLAY, or offscreen with QT_QPA_PLATFORM)

#include "form1.h"
#include "moresection.h"

#include <QAbstractButton>
#include <QApplication>
#include <QElapsedTimer>
#include <QStandardPaths>
#include <QTest>

#include <algorithm>
#include <cstdio>
#include <vector>

namespace {

// Milliseconds from the click to the section's first paint, in a window of its own.
double openOnce()
{
    Tessaline::Form1 form;
    form.show();
    if (!QTest::qWaitForWindowExposed(&form))
        return -1;
    QApplication::processEvents(); // the first paint done
    auto *more = form.findChild<QAbstractButton *>(QStringLiteral("more"));
    bool painted = false;
    QElapsedTimer elapsed;
    elapsed.start();
    more->click();
    auto *section = form.findChild<Tessaline::MoreSection *>();
    struct PaintWatch : QObject
    {
        bool *painted;
        bool eventFilter(QObject *, QEvent *event) override
        {
            if (event->type() == QEvent::Paint)
                *painted = true;
            return false;
        }
    } watch;
    watch.painted = &painted;
    section->installEventFilter(&watch);
    while (!painted && elapsed.elapsed() < 5000)
        QApplication::processEvents(QEventLoop::AllEvents, 5);
    return painted ? double(elapsed.nsecsElapsed()) / 1e6 : -1;
}

} // namespace

int main(int argc, char *argv[])
{
    // The window remembers its open size as the program does, in QStandardPaths' test folders
    // rather than the user's settings; from the second run on, the opening reads what the last
    // one left.
    QStandardPaths::setTestModeEnabled(true);
    QCoreApplication::setOrganizationName(QStringLiteral("tessaline"));
    QApplication app(argc, argv);
    const int windows = argc > 1 ? std::max(2, std::atoi(argv[1])) : 10;
    std::vector<double> later;
    const double first = openOnce();
    for (int i = 1; i < windows; ++i)
        later.push_back(openOnce());
    if (first < 0 || std::any_of(later.begin(), later.end(), [](double ms) { return ms < 0; })) {
        std::fprintf(stderr, "the section was never painted\n");
        return 1;
    }
    std::sort(later.begin(), later.end());
    std::printf("opening the section: first %.1f ms; later windows median %.1f ms (range %.1f-%.1f) of %d\n", first,
                later[later.size() / 2], later.front(), later.back(), windows - 1);
    return 0;
}
