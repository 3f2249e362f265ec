// Writing in a code page that cannot be used here fails, and says so.
#include "conversion.h"

#include <QBuffer>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

using Tessaline::OutputEncoding;

class TestUnusableCodePage : public QObject
{
    Q_OBJECT

private slots:
    void writeFails_data();
    void writeFails();
    void earlierFileIsKept();
};

void TestUnusableCodePage::writeFails_data()
{
    QTest::addColumn<int>("codePage");
    QTest::newRow("no such code page") << 12345;
    QTest::newRow("negative") << -1;
    QTest::newRow("zero") << 0;
}

void TestUnusableCodePage::writeFails()
{
    QFETCH(int, codePage);
    QByteArray bytes;
    QBuffer buffer(&bytes);
    QVERIFY(buffer.open(QIODevice::WriteOnly));
    QVERIFY(!Tessaline::writeChapterText(buffer, u"CHAPTER01=00:00:00.000", OutputEncoding::Ansi, codePage));
}

void TestUnusableCodePage::earlierFileIsKept()
{
    QTemporaryDir folder;
    QVERIFY(folder.isValid());
    const QString path = folder.filePath(QStringLiteral("film_new.txt"));
    {
        QFile earlier(path);
        QVERIFY(earlier.open(QIODevice::WriteOnly));
        QCOMPARE(earlier.write("earlier"), 7);
    }
    const QString error
        = Tessaline::WriteChapterFile(path, u"CHAPTER01=00:00:00.000", OutputEncoding::Ansi, 12345);
    QVERIFY(!error.isEmpty());
    QFile kept(path);
    QVERIFY(kept.open(QIODevice::ReadOnly));
    QCOMPARE(kept.readAll(), QByteArray("earlier"));
}

QTEST_GUILESS_MAIN(TestUnusableCodePage)
#include "tst_unusablecodepage.moc"
