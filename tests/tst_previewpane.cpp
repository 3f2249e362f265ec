// The preview pane, offscreen: the cap on rows, the latest request alone shown, a pane deleted
// while its computation runs, and a title cut off shown whole in its tool tip. A file's chapters as "Save" would write
// them, and a failure in their place, are seen through the window (tst_window).
#include "previewpane.h"
#include "testsupport.h"

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

} // namespace

class TestPreviewPane : public QObject
{
    Q_OBJECT

private slots:
    void capsRowsAndCountsTheRest();
    void showsTheLatestRequestAlone();
    void deletedWhileComputing();
    void toolTipShowsTitleCutOff_data();
    void toolTipShowsTitleCutOff();

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

QTEST_MAIN(TestPreviewPane)
#include "tst_previewpane.moc"
