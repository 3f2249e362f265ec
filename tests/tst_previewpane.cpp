// The preview pane, offscreen: the cap on rows, the latest request alone shown, a pane deleted
// while its computation runs, and a title cut off shown whole in its tool tip. A file's chapters as "Save" would write
// them, and a failure in their place, are seen through the window (tst_window); its table as an editor, through the
// keyboard.
#include "editedfile.h"
#include "previewpane.h"
#include "tablekeys.h"
#include "testsupport.h"

#include <QAction>
#include <QApplication>
#include <QDir>
#include <QHelpEvent>
#include <QLabel>
#include <QSemaphore>
#include <QSignalSpy>
#include <QTableView>
#include <QTemporaryDir>
#include <QTest>
#include <QTextDocument>
#include <QThreadPool>
#include <QToolTip>
#include <QUndoStack>

using namespace Qt::StringLiterals;
using namespace Tessaline;
using namespace TestSupport;

namespace {

QTableView *table(const PreviewPane &pane)
{
    return pane.findChild<QTableView *>(u"previewTable"_s);
}

QString status(const PreviewPane &pane)
{
    return pane.findChild<QLabel *>(u"previewStatus"_s)->text();
}

// Shows path under options and waits for its result.
bool showAndWait(PreviewPane &pane, const QString &path, const ConvertOptions &options = {})
{
    QSignalSpy shown(&pane, &PreviewPane::previewShown);
    pane.showFile(path, options);
    return shown.wait();
}

// The table's rows, a line each: time as read, time as written, title.
QStringList rows(const QTableView &table)
{
    QStringList rows;
    for (int row = 0; row < table.model()->rowCount(); ++row) {
        QStringList cells;
        for (int column = 1; column < 4; ++column)
            cells.append(table.model()->index(row, column).data().toString());
        rows.append(cells.join(u' '));
    }
    return rows;
}

using TableEdit = std::function<void(QTableView &table)>;

} // namespace

Q_DECLARE_METATYPE(TableEdit)

class TestPreviewPane : public QObject
{
    Q_OBJECT

private slots:
    void capsRowsAndCountsTheRest();
    void showsTheLatestRequestAlone();
    void deletedWhileComputing();
    void toolTipShowsTitleCutOff_data();
    void toolTipShowsTitleCutOff();
    void editsThroughTheKeyboard_data();
    void editsThroughTheKeyboard();

private:
    // Computations that record their paths and, for "a.txt", wait to be released: their preview
    // has one row, whose title is the path.
    PreviewPane::Computation heldForA()
    {
        m_computed.clear();
        m_started.acquire(m_started.available());
        return [this](const QString &path, const ConvertOptions &) -> Expected<FilePreview> {
            m_computed.append(path);
            if (path == u"a.txt") {
                m_started.release();
                m_release.tryAcquire(1, 10'000); // ms: a test that failed still ends
            }
            return FilePreview {u"simple"_s, {ChapterPreviewRow {1, {}, {}, path}}, 1};
        };
    }

    QSemaphore m_started, m_release;
    QStringList m_computed; // read once the computations have posted their results
};

void TestPreviewPane::capsRowsAndCountsTheRest()
{
    QByteArray chapters;
    for (qsizetype number = 1; number <= PreviewPane::kShownChapters + 3; ++number) {
        const QByteArray tag = "CHAPTER" + QByteArray::number(number);
        chapters += tag + "=00:00:01.000\n" + tag + "NAME=\n";
    }
    const QTemporaryDir dir;
    QVERIFY(writeFile(dir.filePath(u"long.txt"_s), chapters));
    PreviewPane pane;
    QVERIFY(showAndWait(pane, dir.filePath(u"long.txt"_s)));
    QCOMPARE(table(pane)->model()->rowCount(), PreviewPane::kShownChapters);
    QCOMPARE(status(pane), u"还有3个章节未显示"_s);
}

// Only the last request is shown: a burst computes once, for its last, and a computation of an
// earlier request is dropped.
void TestPreviewPane::showsTheLatestRequestAlone()
{
    QThreadPool::globalInstance()->waitForDone(); // an earlier test's computation may be ending still
    PreviewPane pane;
    pane.setComputation(heldForA());
    QSignalSpy shown(&pane, &PreviewPane::previewShown);
    pane.showFile(u"a.txt"_s, {});
    QCOMPARE(QThreadPool::globalInstance()->activeThreadCount(), 0); // nothing before kDebounceMs
    QTRY_COMPARE(m_started.available(), 1);
    pane.showFile(u"b.txt"_s, {});
    pane.showFile(u"c.txt"_s, {});
    QCOMPARE(status(pane), u"…"_s);
    m_release.release();
    QThreadPool::globalInstance()->waitForDone(); // a's result is posted before c's computation begins
    QTRY_COMPARE(shown.count(), 1);
    QCOMPARE(m_computed, QStringList({u"a.txt"_s, u"c.txt"_s}));
    QCOMPARE(table(pane)->model()->index(0, 3).data().toString(), u"c.txt"_s);
}

// The computation ends after its pane is gone. Any use of the freed pane fails under ASan, and
// under the filling of freed memory that CTest asks of glibc.
void TestPreviewPane::deletedWhileComputing()
{
    auto pane = std::make_unique<PreviewPane>();
    pane->setComputation(heldForA());
    pane->showFile(u"a.txt"_s, {});
    QTRY_COMPARE(m_started.available(), 1);
    pane.reset();
    m_release.release();
    QThreadPool::globalInstance()->waitForDone();
    QCoreApplication::sendPostedEvents();
}

void TestPreviewPane::toolTipShowsTitleCutOff_data()
{
    QTest::addColumn<QString>("title");
    QTest::addColumn<bool>("tipped");
    QTest::newRow("longer than its cell, markup characters shown as they are")
        << u"<b>序章：在遥远的东方有一座被云雾笼罩的古老城市，城里住着一位会讲故事的老人</b>"_s << true;
    QTest::newRow("short") << u"尾声"_s << false;
}

void TestPreviewPane::toolTipShowsTitleCutOff()
{
    QFETCH(QString, title);
    QFETCH(bool, tipped);
    PreviewPane pane;
    pane.setComputation([&title](const QString &, const ConvertOptions &) -> Expected<FilePreview> {
        return FilePreview {u"simple"_s, {ChapterPreviewRow {1, {}, {}, title}}, 1};
    });
    pane.resize(pane.sizeHint());
    pane.show();
    QVERIFY(showAndWait(pane, u"a.txt"_s));
    QToolTip::hideText();
    QTRY_VERIFY(!QToolTip::isVisible());
    QWidget *cells = table(pane)->viewport();
    const QPoint cell = table(pane)->visualRect(table(pane)->model()->index(0, 3)).center();
    QHelpEvent help(QEvent::ToolTip, cell, cells->mapToGlobal(cell));
    QCoreApplication::sendEvent(cells, &help);
    QCOMPARE(QToolTip::isVisible(), tipped);
    QTextDocument shown;
    shown.setHtml(QToolTip::text());
    if (tipped)
        QCOMPARE(shown.toPlainText(), title);
}

void TestPreviewPane::editsThroughTheKeyboard_data()
{
    QTest::addColumn<TableEdit>("edit");
    QTest::addColumn<QStringList>("edited");
    const QString first = u"00:00:00.000 00:00:00.000 A"_s;
    const QString third = u"00:01:00.000 00:01:00.060 C"_s;
    QTest::newRow("F2 on a title, typed, Enter")
        << TableEdit([](QTableView &table) { editCell(table, 1, 3, u"Middle"_s); })
        << QStringList {first, u"00:00:30.000 00:00:30.030 Middle"_s, third};
    QTest::newRow("typing on a time replaces it, as written at once") << TableEdit([](QTableView &table) {
        keyAt(table, 2, 1, Qt::Key_0); // opens the editor with what it types
        QTest::keyClicks(QApplication::focusWidget(), u"0:02:00.000"_s);
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Enter);
        QCoreApplication::sendPostedEvents();
    }) << QStringList {first, u"00:00:30.000 00:00:30.030 B"_s, u"00:02:00.000 00:02:00.120 C"_s};
    QTest::newRow("Insert: after the current chapter, at its time")
        << TableEdit([](QTableView &table) { keyAt(table, 0, 3, Qt::Key_Insert); })
        << QStringList {first, u"00:00:00.000 00:00:00.000 "_s, u"00:00:30.000 00:00:30.030 B"_s, third};
    QTest::newRow("Delete") << TableEdit([](QTableView &table) { keyAt(table, 1, 0, Qt::Key_Delete); })
                            << QStringList {first, third};
    QTest::newRow("revert to the file as read, after a deletion") << TableEdit([](QTableView &table) {
        keyAt(table, 1, 0, Qt::Key_Delete);
        table.findChild<QAction *>(u"revertFile"_s)->trigger();
    }) << QStringList {first, u"00:00:30.000 00:00:30.030 B"_s, third};
}

// An edit of the table's file, undone with Ctrl+Z to the file as read, and redone with
// Ctrl+Shift+Z and Ctrl+Y; the "as written" column follows every step. The edits are unsaved
// until marked saved.
void TestPreviewPane::editsThroughTheKeyboard()
{
    QFETCH(TableEdit, edit);
    QFETCH(QStringList, edited);
    const QTemporaryDir dir;
    const QString path = dir.filePath(u"film.txt"_s);
    QVERIFY(writeFile(path,
                      "CHAPTER01=00:00:00.000\nCHAPTER01NAME=A\nCHAPTER02=00:00:30.000\nCHAPTER02NAME=B\n"
                      "CHAPTER03=00:01:00.000\nCHAPTER03NAME=C\n"));
    EditedFiles files;
    PreviewPane pane;
    pane.setEditedFiles(&files);
    pane.show();
    QVERIFY(QTest::qWaitForWindowActive(&pane));
    QVERIFY(showAndWait(pane, path));
    QTableView &view = *table(pane);
    const QStringList asRead = rows(view);
    view.setFocus();
    edit(view);
    QCOMPARE(rows(view), edited);
    EditedFile *file = files.find(path);
    QVERIFY(file && file->isModified());
    for (int step = file->undoStack()->index(); step > 0; --step)
        QTest::keyClick(&view, Qt::Key_Z, Qt::ControlModifier);
    QCOMPARE(rows(view), asRead);
    QVERIFY(!file->isModified());
    for (int step = 0; step < file->undoStack()->count(); ++step)
        QTest::keyClick(&view, step % 2 ? Qt::Key_Y : Qt::Key_Z,
                        step % 2 ? Qt::ControlModifier : Qt::ControlModifier | Qt::ShiftModifier);
    QCOMPARE(rows(view), edited);
    file->markSaved();
    QVERIFY(!file->isModified());
}

QTEST_MAIN(TestPreviewPane)
#include "tst_previewpane.moc"
