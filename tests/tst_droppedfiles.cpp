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

QTEST_MAIN(TestDroppedFiles)
#include "tst_droppedfiles.moc"
