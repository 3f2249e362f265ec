#include "form1.h"

#include <QApplication>
#include <QCheckBox>
#include <QFile>
#include <QListWidget>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QProgressDialog>
#include <QPushButton>
#include <QRadioButton>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>
#include <QTimer>

using namespace Tessaline;

namespace {

// What a completion message box showed.
struct ShownMessage
{
    QString title;
    QString text;
    QMessageBox::Icon icon = QMessageBox::NoIcon;
    qsizetype buttonCount = 0;
    int shownCount = 0;
};

void recordMessages(Form1 &form, ShownMessage &shown)
{
    form.setMessageBoxPresenter([&shown](QMessageBox &box) {
        shown.title = box.windowTitle();
        shown.text = box.text();
        shown.icon = box.icon();
        shown.buttonCount = box.buttons().size();
        ++shown.shownCount;
    });
}

// Clicks a check box or option button on its indicator, whatever the length of its caption.
void clickIndicator(QAbstractButton *button)
{
    QTest::mouseClick(button, Qt::LeftButton, {}, QPoint(6, button->height() / 2));
}

QByteArray unicodeFile(const QString &text)
{
    QByteArray bytes("\xFF\xFE", 2);
    for (const QChar c : text) {
        bytes.append(char(c.unicode() & 0xFF));
        bytes.append(char(c.unicode() >> 8));
    }
    return bytes;
}

bool writeFile(const QString &path, const QByteArray &bytes)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size();
}

QByteArray readFile(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

} // namespace

class TestForm1 : public QObject
{
    Q_OBJECT

private slots:
    void startsInItsInitialState();
    void chapterNameEnablesNamesBox();
    void controlsFitCaptionsWithoutOverlap();
    void tabWalksControlsInOrder_data();
    void tabWalksControlsInOrder();
    void saveWithEmptyListReportsZero();
    void saveConvertsWithOptionsFromControls_data();
    void saveConvertsWithOptionsFromControls();
    void cancelStopsRunAfterCurrentFile();
};

void TestForm1::startsInItsInitialState()
{
    Form1 form;
    QCOMPARE(form.windowTitle(), QStringLiteral("Tessaline"));
    QCOMPARE(form.findChild<QListWidget *>(QStringLiteral("lstFiles"))->count(), 0);
    const auto *text1 = form.findChild<QPlainTextEdit *>(QStringLiteral("Text1"));
    QVERIFY(text1->toPlainText().isEmpty());
    QVERIFY(!text1->isEnabled());
    QVERIFY(form.findChild<QCheckBox *>(QStringLiteral("Check1"))->isChecked());
    QVERIFY(!form.findChild<QCheckBox *>(QStringLiteral("Check2"))->isChecked());
    QVERIFY(!form.findChild<QRadioButton *>(QStringLiteral("Option1_0"))->isChecked());
    QVERIFY(form.findChild<QRadioButton *>(QStringLiteral("Option1_1"))->isChecked());

    const Tessaline::ConvertOptions options = form.options();
    QVERIFY(options.ShiftFrameRate);
    QVERIFY(!options.UseNameBox);
    QVERIFY(options.NameBoxText.isEmpty());
    QCOMPARE(options.OutputEncoding, Tessaline::OutputEncoding::Unicode);
}

void TestForm1::chapterNameEnablesNamesBox()
{
    Form1 form;
    form.show();
    auto *check2 = form.findChild<QCheckBox *>(QStringLiteral("Check2"));
    auto *text1 = form.findChild<QPlainTextEdit *>(QStringLiteral("Text1"));

    QVERIFY(text1->placeholderText().isEmpty());
    clickIndicator(check2);
    QVERIFY(check2->isChecked());
    QVERIFY(text1->isEnabled());
    QCOMPARE(text1->placeholderText(), QStringLiteral("One title a line"));
    QTest::keyClicks(text1, QStringLiteral("Intro"));

    clickIndicator(check2);
    QVERIFY(!text1->isEnabled());
    QCOMPARE(text1->toPlainText(), QStringLiteral("Intro"));

    clickIndicator(check2);
    QVERIFY(text1->isEnabled());
    QCOMPARE(text1->toPlainText(), QStringLiteral("Intro"));
}

void TestForm1::controlsFitCaptionsWithoutOverlap()
{
    Form1 form;
    const QRect client = form.rect();
    const QList<QWidget *> controls = {
        form.findChild<QWidget *>(QStringLiteral("lstFiles")),
        form.findChild<QWidget *>(QStringLiteral("Text1")),
        form.findChild<QWidget *>(QStringLiteral("Check1")),
        form.findChild<QWidget *>(QStringLiteral("Check2")),
        form.findChild<QWidget *>(QStringLiteral("Option1_0")),
        form.findChild<QWidget *>(QStringLiteral("Option1_1")),
        form.findChild<QWidget *>(QStringLiteral("Command1")),
    };
    for (const QWidget *control : controls) {
        QVERIFY2(client.contains(control->geometry()), qPrintable(control->objectName()));
        if (const auto *button = qobject_cast<const QAbstractButton *>(control))
            QVERIFY2(button->width() >= button->sizeHint().width(), qPrintable(button->text()));
        for (const QWidget *other : controls) {
            if (other != control)
                QVERIFY2(!control->geometry().intersects(other->geometry()),
                         qPrintable(control->objectName() + u" overlaps " + other->objectName()));
        }
    }
    QCOMPARE(form.minimumSize(), form.maximumSize());
}

void TestForm1::tabWalksControlsInOrder_data()
{
    QTest::addColumn<bool>("chooseAnsi");
    QTest::addColumn<QStringList>("order"); // from the file list on

    // The option buttons are one tab stop, entered at the selected one.
    QTest::newRow("Unicode selected")
        << false
        << QStringList {
               QStringLiteral("Check1"),    QStringLiteral("Check2"), QStringLiteral("Command1"),
               QStringLiteral("Option1_1"), QStringLiteral("Text1"),  QStringLiteral("lstFiles"),
           };
    QTest::newRow("ANSI selected") << true
                                   << QStringList {
                                          QStringLiteral("Check1"),   QStringLiteral("Check2"),
                                          QStringLiteral("Command1"), QStringLiteral("Option1_0"),
                                          QStringLiteral("Text1"),    QStringLiteral("lstFiles"),
                                      };
}

void TestForm1::tabWalksControlsInOrder()
{
    QFETCH(bool, chooseAnsi);
    QFETCH(QStringList, order);

    Form1 form;
    form.show();
    QVERIFY(QTest::qWaitForWindowActive(&form));
    if (chooseAnsi)
        clickIndicator(form.findChild<QRadioButton *>(QStringLiteral("Option1_0")));
    clickIndicator(
        form.findChild<QCheckBox *>(QStringLiteral("Check2"))); // Text1 takes focus only when enabled
    form.findChild<QListWidget *>(QStringLiteral("lstFiles"))->setFocus();

    for (const QString &expected : std::as_const(order)) {
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
        QCOMPARE(QApplication::focusWidget()->objectName(), expected);
    }
    // And back again.
    order.removeLast();
    order.prepend(QStringLiteral("lstFiles"));
    for (auto it = order.crbegin(); it != order.crend(); ++it) {
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Backtab);
        QCOMPARE(QApplication::focusWidget()->objectName(), *it);
    }
}

void TestForm1::saveWithEmptyListReportsZero()
{
    // The real modal box, read and closed from inside its own event loop.
    Form1 form;
    form.show();
    ShownMessage shown;
    QTimer closer;
    connect(&closer, &QTimer::timeout, &form, [&shown] {
        if (auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget())) {
            shown.title = box->windowTitle();
            shown.text = box->text();
            shown.icon = box->icon();
            shown.buttonCount = box->buttons().size();
            ++shown.shownCount;
            box->button(QMessageBox::Ok)->click();
        }
    });
    closer.start(10);
    QTest::mouseClick(form.findChild<QPushButton *>(QStringLiteral("Command1")), Qt::LeftButton);

    QTRY_COMPARE(shown.shownCount, 1);
    QCOMPARE(shown.text, QStringLiteral("已成功转换0个文件"));
    QCOMPARE(shown.title, QStringLiteral("成功"));
    QCOMPARE(shown.icon, QMessageBox::NoIcon);
    QCOMPARE(shown.buttonCount, 1);
}

void TestForm1::saveConvertsWithOptionsFromControls_data()
{
    QTest::addColumn<bool>("untickShift");
    QTest::addColumn<QStringList>("typedNames"); // ticks "ChapterName" when not empty
    QTest::addColumn<bool>("chooseAnsi");
    QTest::addColumn<QString>("expected");

    const QString opening = QStringLiteral("CHAPTER01=00:00:00.000\r\nCHAPTER01NAME=Opening\r\n");
    QTest::newRow("initial options") << false << QStringList() << false
                                     << opening + u"CHAPTER02=00:05:23.790\r\nCHAPTER02NAME=Credits";
    QTest::newRow("30FPS->29.97FPS unticked")
        << true << QStringList() << false << opening + u"CHAPTER02=00:05:23.456\r\nCHAPTER02NAME=Credits";
    QTest::newRow("ANSI chosen") << false << QStringList() << true
                                 << opening + u"CHAPTER02=00:05:23.790\r\nCHAPTER02NAME=Credits";
    QTest::newRow("names typed on two lines")
        << false << QStringList {QStringLiteral("Intro"), QStringLiteral("Finale")} << false
        << QStringLiteral("CHAPTER01=00:00:00.000\r\nCHAPTER01NAME=Intro\r\n"
                          "CHAPTER02=00:05:23.790\r\nCHAPTER02NAME=Finale");
}

void TestForm1::saveConvertsWithOptionsFromControls()
{
    QFETCH(bool, untickShift);
    QFETCH(QStringList, typedNames);
    QFETCH(bool, chooseAnsi);
    QFETCH(QString, expected);

    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString input = dir.filePath(QStringLiteral("film.txt"));
    QVERIFY(writeFile(input,
                      "CHAPTER05=00:00:00.000\r\nCHAPTER05NAME=Opening\r\n"
                      "CHAPTER06=00:05:23.456\r\nCHAPTER06NAME=Credits\r\n"));
    const QString output = dir.filePath(QStringLiteral("film_new.txt"));

    Form1 form;
    form.show();
    ShownMessage shown;
    recordMessages(form, shown);
    auto *lstFiles = form.findChild<QListWidget *>(QStringLiteral("lstFiles"));
    lstFiles->addItem(input);

    if (untickShift)
        clickIndicator(form.findChild<QCheckBox *>(QStringLiteral("Check1")));
    if (!typedNames.isEmpty()) {
        clickIndicator(form.findChild<QCheckBox *>(QStringLiteral("Check2")));
        auto *text1 = form.findChild<QPlainTextEdit *>(QStringLiteral("Text1"));
        for (qsizetype i = 0; i < typedNames.size(); ++i) {
            if (i > 0)
                QTest::keyClick(text1, Qt::Key_Return);
            QTest::keyClicks(text1, typedNames.at(i));
        }
    }
    if (chooseAnsi)
        clickIndicator(form.findChild<QRadioButton *>(QStringLiteral("Option1_0")));

    QTest::mouseClick(form.findChild<QPushButton *>(QStringLiteral("Command1")), Qt::LeftButton);

    QTRY_COMPARE(shown.shownCount, 1);
    QVERIFY2(shown.text.startsWith(QStringLiteral("已成功转换1个文件")), qPrintable(shown.text));
    QCOMPARE(shown.icon, QMessageBox::NoIcon);
    QCOMPARE(readFile(output), chooseAnsi ? expected.toLatin1() : unicodeFile(expected));
    QCOMPARE(lstFiles->count(), 1); // a run leaves the list as it was
}

// The run is held before its second file until Cancel is pressed; the window shows how far it got.
void TestForm1::cancelStopsRunAfterCurrentFile()
{
    QTemporaryDir dir;
    QStringList files;
    for (const char *name : {"first.txt", "second.txt"}) {
        files << dir.filePath(QLatin1String(name));
        QVERIFY(writeFile(files.last(), "CHAPTER01=00:00:00.000\r\nCHAPTER01NAME=Opening"));
    }
    Form1 form;
    ShownMessage shown;
    recordMessages(form, shown);
    form.setConversion([](const QStringList &files, const ConvertOptions &options, const RunControl &control) {
        RunControl held = control;
        held.progress = [control](qsizetype done, qsizetype total, const QString &current) {
            control.progress(done, total, current);
            while (done == 1 && !control.stop->load())
                QThread::msleep(1);
        };
        return ConvertAll(files, options, held);
    });
    auto *lstFiles = form.findChild<QListWidget *>(QStringLiteral("lstFiles"));
    lstFiles->addItems(files);
    auto *command1 = form.findChild<QPushButton *>(QStringLiteral("Command1"));
    QTest::mouseClick(command1, Qt::LeftButton);
    QVERIFY(!command1->isEnabled());
    QVERIFY(!lstFiles->isEnabled());
    auto *progress = form.findChild<QProgressDialog *>();
    QTRY_COMPARE(progress->labelText(), QStringLiteral("1 / 2\nsecond.txt"));
    progress->findChild<QPushButton *>()->click();

    QTRY_COMPARE(shown.shownCount, 1);
    QCOMPARE(shown.title, QStringLiteral("已取消"));
    QCOMPARE(shown.icon, QMessageBox::Warning);
    QCOMPARE(shown.text, QStringLiteral("已成功转换1个文件\n已取消：其余1个文件未转换"));
    QVERIFY(QFile::exists(dir.filePath(QStringLiteral("first_new.txt"))));
    QVERIFY(!QFile::exists(dir.filePath(QStringLiteral("second_new.txt"))));
    QVERIFY(command1->isEnabled());
}

QTEST_MAIN(TestForm1)
#include "tst_form1.moc"
