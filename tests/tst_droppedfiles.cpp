#include "conversion.h"
#include "droppedfiles.h"

#include <QDir>
#include <QMimeData>
#include <QTest>
#include <QUrl>

using namespace Tessaline;

namespace {

QUrl fileUrl(const QString &path)
{
    return QUrl::fromLocalFile(path);
}

} // namespace

class TestDroppedFiles : public QObject
{
    Q_OBJECT

private slots:
    void droppedPathsAreLocalNativeAndInOrder_data();
    void droppedPathsAreLocalNativeAndInOrder();
    void textOnlyDropHasNoPaths();
    void chapterListPaths_data();
    void chapterListPaths();
};

void TestDroppedFiles::droppedPathsAreLocalNativeAndInOrder_data()
{
    QTest::addColumn<QList<QUrl>>("urls");
    QTest::addColumn<QStringList>("paths");

    // Drops as the window sees them, from order to long names, are tested with the window.
    QTest::newRow("files and folders, in the drop's order")
        << QList<QUrl> {fileUrl(QStringLiteral("/b/second.txt")), fileUrl(QStringLiteral("/a/folder.txt"))}
        << QStringList {QStringLiteral("/b/second.txt"), QStringLiteral("/a/folder.txt")};
    QTest::newRow("web links left out") << QList<QUrl> {QUrl(QStringLiteral("https://example.org/film.txt")),
                                                        fileUrl(QStringLiteral("/film.txt"))}
                                        << QStringList {QStringLiteral("/film.txt")};
    QTest::newRow("web links only") << QList<QUrl> {QUrl(QStringLiteral("https://example.org/film.txt"))}
                                    << QStringList();
    QTest::newRow("root") << QList<QUrl> {fileUrl(QStringLiteral("/"))} << QStringList {QStringLiteral("/")};
}

void TestDroppedFiles::droppedPathsAreLocalNativeAndInOrder()
{
    QFETCH(QList<QUrl>, urls);
    QFETCH(QStringList, paths);

    QMimeData mimeData;
    mimeData.setUrls(urls);
    for (QString &path : paths)
        path = QDir::toNativeSeparators(path);
    QCOMPARE(droppedPaths(mimeData), paths);
    QCOMPARE(hasLocalPaths(mimeData), !paths.isEmpty());
}

void TestDroppedFiles::textOnlyDropHasNoPaths()
{
    QMimeData mimeData;
    mimeData.setText(QStringLiteral("/chapters/film.txt"));
    QVERIFY(droppedPaths(mimeData).isEmpty());
    QVERIFY(!hasLocalPaths(mimeData));
}

void TestDroppedFiles::chapterListPaths_data()
{
    QTest::addColumn<QString>("path");
    QTest::addColumn<bool>("taken");

    QTest::newRow("film.txt") << QStringLiteral("/chapters/film.txt") << true;
    QTest::newRow("folder named .txt") << QStringLiteral("/chapters/season.txt") << true;
    QTest::newRow("Chinese name") << QStringLiteral("D:\\视频\\章节.txt") << true;
    QTest::newRow("notes.doc") << QStringLiteral("/chapters/notes.doc") << false;
    QTest::newRow("FILE.TXT") << QStringLiteral("/chapters/FILE.TXT") << false;
    QTest::newRow("film.Txt") << QStringLiteral("/chapters/film.Txt") << false;
    QTest::newRow("film.txt.bak") << QStringLiteral("/chapters/film.txt.bak") << false;
    QTest::newRow("txt without dot") << QStringLiteral("/chapters/filmtxt") << false;
    QTest::newRow("POSIX root") << QStringLiteral("/") << false;
    QTest::newRow("drive root") << QStringLiteral("C:\\") << false;
    QTest::newRow("empty") << QString() << false;
}

void TestDroppedFiles::chapterListPaths()
{
    QFETCH(QString, path);
    QFETCH(bool, taken);
    QCOMPARE(isChapterListPath(path), taken);
}

QTEST_MAIN(TestDroppedFiles)
#include "tst_droppedfiles.moc"
