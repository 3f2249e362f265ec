// Editing a file of 10,000 chapters in the preview's table: the time from an edit of a cell (as
// its editor commits it, through the model) to its "as written" columns refreshed and the table
// drawn again, for a title, a time, an inserted and a deleted chapter, and an undo; and the time
// from the first edit to the file read for editing and shown from memory. Retiming and the
// names box are on, so that every row's time and title are computed again at each edit.
//
// Usage: editlarge [edits]   (default 40 of each kind; offscreen unless QT_QPA_PLATFORM is set)

#include "chapterfiles.h"
#include "editedfile.h"
#include "previewpane.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QSignalSpy>
#include <QTableView>
#include <QTemporaryDir>
#include <QUndoStack>

#include <algorithm>
#include <cstdio>
#include <functional>
#include <vector>

namespace {

constexpr qsizetype kChapters = 10'000;

// Milliseconds from the edit to the table drawn again.
double timed(QTableView &table, const std::function<void()> &edit)
{
    QElapsedTimer elapsed;
    elapsed.start();
    edit();
    table.viewport()->repaint();
    return double(elapsed.nsecsElapsed()) / 1e6;
}

void report(const char *what, std::vector<double> times)
{
    std::sort(times.begin(), times.end());
    std::printf("%-28s median %.2f ms, slowest %.2f ms (of %zu)\n", what, times[times.size() / 2], times.back(),
                times.size());
}

} // namespace

int main(int argc, char **argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    const int edits = argc > 1 ? std::max(1, std::atoi(argv[1])) : 40;

    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("large.txt"));
    QFile file(path);
    const QByteArray bytes = Tessaline::Bench::chapterFileBytes(kChapters);
    if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size()) {
        std::fputs("cannot write the chapter file\n", stderr);
        return 1;
    }
    file.close();

    Tessaline::ConvertOptions options;
    options.UseNameBox = true;
    options.NameBoxText = QStringLiteral("Opening\r\nMiddle\r\nEnd");
    Tessaline::EditedFiles files;
    Tessaline::PreviewPane pane;
    pane.setEditedFiles(&files);
    pane.resize(600, 800);
    pane.show();
    auto *table = pane.findChild<QTableView *>(QStringLiteral("previewTable"));
    QSignalSpy shown(&pane, &Tessaline::PreviewPane::previewShown);
    pane.showFile(path, options);
    if (!shown.wait(60'000) || table->model()->rowCount() != kChapters) {
        std::fputs("the preview did not show the file\n", stderr);
        return 1;
    }
    QApplication::processEvents();

    // The first edit has the file read for editing; the table then shows it from memory.
    Tessaline::EditedFile *edited = nullptr;
    const double first = timed(*table, [&] {
        edited = *files.open(path, options);
        pane.showFile(path, options);
    });
    std::printf("a table of %lld rows, retimed, the names box on\n", static_cast<long long>(kChapters));
    std::printf("%-28s %.2f ms\n", "first edit: read and shown", first);

    QAbstractItemModel *model = table->model();
    std::vector<double> titles, times, inserts, deletes, undos;
    for (int i = 0; i < edits; ++i) {
        const int row = int(kChapters / 2) + i;
        titles.push_back(
            timed(*table, [&] { model->setData(model->index(row, 3), QStringLiteral("Title %1").arg(i)); }));
        times.push_back(timed(*table, [&] {
            model->setData(model->index(row, 1), QStringLiteral("01:00:00.%1").arg(i, 3, 10, QLatin1Char('0')));
        }));
        inserts.push_back(timed(*table, [&] { edited->insertAfter(row); }));
        deletes.push_back(timed(*table, [&] { edited->remove({row + 1}); }));
        undos.push_back(timed(*table, [&] { edited->undoStack()->undo(); }));
    }
    report("title typed", titles);
    report("time typed", times);
    report("chapter inserted", inserts);
    report("chapter deleted", deletes);
    report("undo", undos);
    return 0;
}
