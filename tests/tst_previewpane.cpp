// The preview pane, offscreen: a file's chapters as "Save" would write them, a failure in their
// place, the cap on rows, the latest request alone shown, and a pane deleted while its
// computation runs.
#include "previewpane.h"
#include "testsupport.h"

#include <QDir>
#include <QLabel>
#include <QSemaphore>
#include <QSignalSpy>
#include <QTableView>
#include <QTemporaryDir>
#include <QTest>
#include <QThreadPool>

using namespace Qt::StringLiterals;
using namespace Tessaline;
using namespace TestSupport;

namespace {

// The table's cells, row by row.
QStringList cells(const QAbstractItemModel *model)
{
    QStringList texts;
    for (int row = 0; row < model->rowCount(); ++row) {
        for (int column = 0; column < model->columnCount(); ++column)
            texts.append(model->index(row, column).data().toString());
    }
    return texts;
}

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

} // namespace

class TestPreviewPane : public QObject
{
    Q_OBJECT

private slots:
    void showsChaptersAsWritten();
    void showsFailureInsteadOfTable();
    void capsRowsAndCountsTheRest();
    void showsTheLatestRequestAlone();
    void deletedWhileComputing();

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

void TestPreviewPane::showsChaptersAsWritten()
{
    ConvertOptions options; // 30 fps to 29.97 fps
    options.UseNameBox = true;
    options.NameBoxText = u"片头"_s;
    PreviewPane pane;
    QVERIFY(showAndWait(pane, QFINDTESTDATA("data/preview/film.txt"), options));
    const QAbstractItemModel *model = table(pane)->model();
    QCOMPARE(cells(model),
             QStringList({u"1"_s, u"00:00:00.000"_s, u"00:00:00.000"_s, u"片头"_s, // names box
                          u"2"_s, u"00:10:00.000"_s, u"00:10:00.600"_s, u"Two"_s})); // retimed
    QCOMPARE(model->headerData(2, Qt::Horizontal).toString(), u"写入时间"_s);
}

void TestPreviewPane::showsFailureInsteadOfTable()
{
    const QString path = QFINDTESTDATA("data/preview/bad.txt");
    PreviewPane pane;
    QVERIFY(showAndWait(pane, path));
    QVERIFY(!table(pane)->isVisibleTo(&pane));
    QCOMPARE(status(pane), QDir::toNativeSeparators(path) + u"：第3行的时间无法换算：“CHAPTER02=1:xx”");
}

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

QTEST_MAIN(TestPreviewPane)
#include "tst_previewpane.moc"
