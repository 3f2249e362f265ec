// The window's own wiring: its controls and their state, drops into the file list and edits of
// it, the hook, what "Save" hands the conversion and how the run's end is shown.
#include "completionmessage.h"
#include "filelistwidget.h"
#include "form1.h"
#include "module1.h"
#include "runprogress.h"
#include "testsupport.h"

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QElapsedTimer>
#include <QMessageBox>
#include <QMimeData>
#include <QPlainTextEdit>
#include <QProgressDialog>
#include <QPushButton>
#include <QRadioButton>
#include <QScrollBar>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>
#include <QTimer>

using namespace Tessaline;
using namespace TestSupport;

namespace {

template<typename T = QWidget> T *child(QObject &parent, const char *name)
{
    return parent.findChild<T *>(QString::fromLatin1(name));
}

// What a completion message box showed.
struct ShownMessage
{
    QString title;
    QString text;
    QMessageBox::Icon icon = QMessageBox::NoIcon;
    int shownCount = 0;
};

void recordMessages(Form1 &form, ShownMessage &shown)
{
    form.setMessageBoxPresenter([&shown](QMessageBox &box) {
        QCOMPARE(box.buttons().size(), 1); // OK alone
        shown = {box.windowTitle(), box.text(), box.icon(), shown.shownCount + 1};
    });
}

// Clicks a check box or option button on its indicator, whatever the length of its caption.
void clickIndicator(QAbstractButton *button)
{
    QTest::mouseClick(button, Qt::LeftButton, {}, QPoint(6, button->height() / 2));
}

// Drags urls onto the window and drops them, as the window system delivers it; whether the drop
// was taken.
bool drop(QWidget &window, const QList<QUrl> &urls, const QString &text = {})
{
    QMimeData mimeData;
    mimeData.setUrls(urls);
    mimeData.setText(text);
    QDragEnterEvent enter(QPoint(5, 5), Qt::CopyAction, &mimeData, Qt::LeftButton, {});
    QCoreApplication::sendEvent(&window, &enter);
    QDropEvent dropped(QPointF(5, 5), Qt::CopyAction, &mimeData, Qt::LeftButton, {});
    QCoreApplication::sendEvent(&window, &dropped);
    return enter.isAccepted() && dropped.isAccepted();
}

QStringList entries(const QListWidget *list)
{
    QStringList texts;
    for (int row = 0; row < list->count(); ++row)
        texts.append(list->item(row)->text());
    return texts;
}

} // namespace

class TestWindow : public QObject
{
    Q_OBJECT

private slots:
    void initialStateAndNamesBox();
    void layoutAndTabOrder();
    void dropsAndListEdits_data();
    void dropsAndListEdits();
    void hookPassesEventsOn();
    void optionsFollowControls();
    void cancelStopsRunAfterCurrentFile();
    void progressIsCoalesced();
    void shortRunShowsMessageAlone_data();
    void shortRunShowsMessageAlone();
    void saveTakesNamesBoxAndDropsExactly();
    void completionMessage_data();
    void completionMessage();
};

void TestWindow::initialStateAndNamesBox()
{
    Form1 form;
    form.show();
    QCOMPARE(form.windowTitle(), QStringLiteral("Tessaline"));
    QCOMPARE(child<QListWidget>(form, "lstFiles")->count(), 0);
    auto *text1 = child<QPlainTextEdit>(form, "Text1");
    auto *check2 = child<QCheckBox>(form, "Check2");
    QVERIFY(text1->toPlainText().isEmpty() && !text1->isEnabled() && text1->placeholderText().isEmpty());
    QVERIFY(child<QCheckBox>(form, "Check1")->isChecked() && !check2->isChecked());
    QVERIFY(child<QRadioButton>(form, "Option1_1")->isChecked());

    clickIndicator(check2);
    QVERIFY(text1->isEnabled());
    QCOMPARE(text1->placeholderText(), QStringLiteral("One title a line"));
    QTest::keyClicks(text1, QStringLiteral("Intro"));
    clickIndicator(check2);
    QVERIFY(!text1->isEnabled());
    QCOMPARE(text1->toPlainText(), QStringLiteral("Intro")); // kept for the next tick
}

// Every control inside the window, none overlapping another, captions whole; Tab walks them in
// order, the option buttons being one stop entered at the selected one.
void TestWindow::layoutAndTabOrder()
{
    Form1 form;
    form.show();
    QVERIFY(QTest::qWaitForWindowActive(&form));
    const QStringList order = {QStringLiteral("lstFiles"), QStringLiteral("Check1"),    QStringLiteral("Check2"),
                               QStringLiteral("Command1"), QStringLiteral("Option1_1"), QStringLiteral("Text1")};
    for (const QString &name : order) {
        const QWidget *control = form.findChild<QWidget *>(name);
        QVERIFY2(form.rect().contains(control->geometry()), qPrintable(name));
        if (const auto *button = qobject_cast<const QAbstractButton *>(control))
            QVERIFY2(button->width() >= button->sizeHint().width(), qPrintable(name));
        for (const QString &other : order + QStringList {QStringLiteral("Option1_0")}) {
            if (other != name)
                QVERIFY2(!control->geometry().intersects(form.findChild<QWidget *>(other)->geometry()),
                         qPrintable(name + u" overlaps " + other));
        }
    }
    QCOMPARE(form.minimumSize(), form.maximumSize());

    clickIndicator(child<QCheckBox>(form, "Check2")); // the names box takes focus only when enabled
    child(form, "lstFiles")->setFocus();
    for (const QString &name : order.sliced(1) + order.first(1)) {
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
        QCOMPARE(QApplication::focusWidget()->objectName(), name);
    }
}

void TestWindow::dropsAndListEdits_data()
{
    QTest::addColumn<int>("key"); // removes the selected entry; 0: "Remove" in the context menu
    QTest::newRow("Delete") << int(Qt::Key_Delete);
    QTest::newRow("Backspace") << int(Qt::Key_Backspace);
    QTest::newRow("context menu") << 0;
}

// A drop appends its local ".txt" paths, natively written, in its order, duplicates kept; the
// list scrolls over its widest entry plus 8 pixels, before and after a removal.
void TestWindow::dropsAndListEdits()
{
    QFETCH(int, key);
    Form1 form;
    form.show();
    auto *list = qobject_cast<FileListWidget *>(child<QListWidget>(form, "lstFiles"));
    auto *remove = child<QAction>(*list, "removeEntry");
    auto *clear = child<QAction>(*list, "clearList");
    QVERIFY(!remove->isEnabled() && !clear->isEnabled());
    QVERIFY(!list->acceptDrops() && !child(form, "Text1")->acceptDrops()); // drops go to the window

    const QString shortPath = QStringLiteral("/v/a.txt");
    const QString longPath = u"/v/" + QString(80, u'w') + u"/film.txt";
    QVERIFY(!drop(form, {}, QStringLiteral("text, no files")));
    QVERIFY(
        drop(form,
             {QUrl::fromLocalFile(shortPath), QUrl(QStringLiteral("https://example.org/x.txt")),
              QUrl::fromLocalFile(QStringLiteral("/v/notes.doc")), QUrl::fromLocalFile(QStringLiteral("/v/FILM.TXT")),
              QUrl::fromLocalFile(QStringLiteral("/v/film.Txt")),
              QUrl::fromLocalFile(QStringLiteral("/v/film.txt.bak")), QUrl::fromLocalFile(longPath)}));
    QVERIFY(drop(form, {QUrl::fromLocalFile(shortPath)}));
    const QStringList dropped = {QDir::toNativeSeparators(shortPath), QDir::toNativeSeparators(longPath),
                                 QDir::toNativeSeparators(shortPath)};
    QCOMPARE(entries(list), dropped);
    const int longWidth = list->fontMetrics().horizontalAdvance(dropped[1]) + 8;
    QCOMPARE(list->horizontalExtent(), longWidth);
    QCOMPARE(Form1::ListTextWidth(list), longWidth);
    QTRY_COMPARE(list->horizontalScrollBar()->maximum(), longWidth - list->viewport()->width());

    list->setCurrentRow(1);
    QVERIFY(remove->isEnabled() && clear->isEnabled());
    if (key)
        QTest::keyClick(list, Qt::Key(key));
    else
        remove->trigger();
    QCOMPARE(entries(list), QStringList(2, dropped[0]));
    QCOMPARE(list->horizontalExtent(), Form1::ListTextWidth(list));
    QTRY_COMPARE(list->horizontalScrollBar()->maximum(), 0);
    clear->trigger();
    QCOMPARE(list->count(), 0);
    QCOMPARE(list->horizontalExtent(), 0);
    QVERIFY(!clear->isEnabled());
}

// The hook shows the window's events to MessageProc and lets every one go on unchanged; hooking
// again first unhooks; unhooking twice, or before hooking, does nothing.
void TestWindow::hookPassesEventsOn()
{
    Form1 first;
    Form1 second;
    auto *hook = child<Module1>(first, "Module1");
    QKeyEvent key(QEvent::KeyPress, Qt::Key_A, Qt::NoModifier, QStringLiteral("a"));
    key.setAccepted(false);
    QVERIFY(!hook->SubclassProc(&first, &key));
    QVERIFY(!key.isAccepted());

    child<Module1>(second, "Module1")->UnhookWindow();
    drop(second, {QUrl::fromLocalFile(QStringLiteral("/v/unhooked.txt"))});
    QCOMPARE(child<QListWidget>(second, "lstFiles")->count(), 0); // no hook, no files
    hook->HookWindow(&second);
    hook->HookWindow(&second);
    drop(first, {QUrl::fromLocalFile(QStringLiteral("/v/first.txt"))});
    drop(second, {QUrl::fromLocalFile(QStringLiteral("/v/second.txt"))});
    QCOMPARE(child<QListWidget>(first, "lstFiles")->count(), 0);
    QCOMPARE(child<QListWidget>(second, "lstFiles")->count(), 1); // hooked once

    Module1 fresh;
    fresh.UnhookWindow();
    QCOMPARE(fresh.hookedWindow(), nullptr);
}

// What "Save" hands the conversion: the controls' states, the names box's lines joined by CR LF.
void TestWindow::optionsFollowControls()
{
    Form1 form;
    form.show();
    clickIndicator(child<QCheckBox>(form, "Check1"));
    clickIndicator(child<QCheckBox>(form, "Check2"));
    QTest::keyClicks(child(form, "Text1"), QStringLiteral("Intro"));
    QTest::keyClick(child(form, "Text1"), Qt::Key_Return);
    QTest::keyClicks(child(form, "Text1"), QStringLiteral("Finale"));
    clickIndicator(child<QRadioButton>(form, "Option1_0"));
    const ConvertOptions options = form.options();
    QVERIFY(!options.ShiftFrameRate && options.UseNameBox);
    QCOMPARE(options.NameBoxText, QStringLiteral("Intro\r\nFinale"));
    QCOMPARE(options.OutputEncoding, OutputEncoding::Ansi);
}

// "Save" runs the conversion beside the window. This run is held before its second file until
// Cancel is pressed; the window shows how far it got, and the message what was done.
void TestWindow::cancelStopsRunAfterCurrentFile()
{
    QTemporaryDir dir;
    const QStringList files = {dir.filePath(QStringLiteral("first.txt")), dir.filePath(QStringLiteral("second.txt"))};
    for (const QString &file : files)
        QVERIFY(writeFile(file, "CHAPTER05=00:05:23.456\r\nCHAPTER05NAME=Opening"));
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
    child<QListWidget>(form, "lstFiles")->addItems(files);
    auto *command1 = child(form, "Command1");
    QTest::mouseClick(command1, Qt::LeftButton);
    QVERIFY(!command1->isEnabled() && !child(form, "lstFiles")->isEnabled());
    QProgressDialog *progress = nullptr;
    QTRY_VERIFY((progress = form.findChild<QProgressDialog *>()));
    QTRY_COMPARE(progress->labelText(), QStringLiteral("1 / 2\nsecond.txt"));
    progress->findChild<QPushButton *>()->click();

    QTRY_COMPARE(shown.shownCount, 1);
    QCOMPARE(shown.title, QStringLiteral("已取消"));
    QCOMPARE(shown.icon, QMessageBox::Warning);
    QCOMPARE(shown.text, QStringLiteral("已成功转换1个文件\n已取消：其余1个文件未转换"));
    QCOMPARE(readFile(dir.filePath(QStringLiteral("first_new.txt"))),
             unicodeFile(u"CHAPTER01=00:05:23.790\r\nCHAPTER01NAME=Opening"));
    QVERIFY(!QFile::exists(dir.filePath(QStringLiteral("second_new.txt"))));
    QVERIFY(command1->isEnabled());
    QCOMPARE(child<QListWidget>(form, "lstFiles")->count(), 2); // a run leaves the list as it was
}

// However many files go by, the window reads the run's latest progress once.
void TestWindow::progressIsCoalesced()
{
    RunProgress progress;
    QVERIFY(!progress.take());
    for (int done = 0; done < 1000; ++done)
        progress.report(done, 1000, QString::number(done) + u".txt");
    const std::optional<RunProgress::State> latest = progress.take();
    QVERIFY(latest);
    QCOMPARE(latest->done, 999);
    QCOMPARE(latest->total, 1000);
    QCOMPARE(latest->current, QStringLiteral("999.txt"));
    QVERIFY(!progress.take()); // nothing new since
}

void TestWindow::shortRunShowsMessageAlone_data()
{
    QTest::addColumn<int>("key");
    QTest::newRow("Enter closes it") << int(Qt::Key_Return);
    QTest::newRow("Escape closes it") << int(Qt::Key_Escape);
}

// A run shorter than the progress delay, through the real delay and the real message box: past
// the delay the box is still alone, with the keyboard, and a failed file is not counted.
void TestWindow::shortRunShowsMessageAlone()
{
    QFETCH(int, key);
    QTemporaryDir dir;
    const QString missing = dir.filePath(QStringLiteral("missing.txt"));
    const QString good = dir.filePath(QStringLiteral("good.txt"));
    QVERIFY(writeFile(good, "CHAPTER01=00:00:01.000\r\nCHAPTER01NAME=One"));
    Form1 form;
    form.show();
    QVERIFY(QTest::qWaitForWindowActive(&form));
    child<QListWidget>(form, "lstFiles")->addItems({missing, good});
    ShownMessage shown;
    bool dialogSeen = false;
    bool boxHadFocus = false;
    bool closed = false;
    QElapsedTimer boxUp;
    QTimer watch;
    watch.setInterval(50);
    QObject::connect(&watch, &QTimer::timeout, [&] {
        auto *box = form.findChild<QMessageBox *>(QStringLiteral("completionMessage"));
        if (!box || !box->isVisible())
            return;
        if (!boxUp.isValid())
            boxUp.start();
        if (boxUp.elapsed() < 650) // past the 500 ms delay
            return;
        watch.stop();
        for (const QProgressDialog *dialog : form.findChildren<QProgressDialog *>())
            dialogSeen = dialogSeen || dialog->isVisible();
        boxHadFocus = QApplication::activeWindow() == box && QApplication::focusWidget()
            && QApplication::focusWidget()->window() == box;
        shown = {box->windowTitle(), box->text(), box->icon(), 1};
        QTest::keyClick(QApplication::focusWidget(), Qt::Key(key));
        closed = !box->isVisible();
    });
    watch.start();
    QTest::mouseClick(child(form, "Command1"), Qt::LeftButton);
    QTRY_VERIFY_WITH_TIMEOUT(shown.shownCount == 1, 10000);
    QVERIFY(!dialogSeen);
    QVERIFY(boxHadFocus);
    QVERIFY(closed);
    QCOMPARE(shown.title, QStringLiteral("未能全部转换"));
    QCOMPARE(shown.text,
             u"已成功转换1个文件\n" + QDir::toNativeSeparators(missing) + u"：无法读取（文件或文件夹不存在）");
    QVERIFY(form.findChildren<QProgressDialog *>().isEmpty());
}

// "Save" converts with the names box's lines as typed (split at CR LF, a no-break space kept)
// and refuses a dropped name that is not valid UTF-8 instead of taking it for its U+FFFD twin.
void TestWindow::saveTakesNamesBoxAndDropsExactly()
{
    QTemporaryDir dir;
    const QString good = dir.filePath(QStringLiteral("good.txt"));
    const QString twin = dir.filePath(u"caf\uFFFD.txt"_qs);
    for (const QString &file : {good, twin})
        QVERIFY(
            writeFile(file, "CHAPTER01=00:00:01.000\r\nCHAPTER01NAME=a\r\nCHAPTER02=00:00:02.000\r\nCHAPTER02NAME=b"));
    Form1 form;
    form.show();
    ShownMessage shown;
    recordMessages(form, shown);
    const QUrl latin1 = QUrl::fromEncoded(QUrl::fromLocalFile(dir.path()).toEncoded() + "/caf%E9.txt");
    QVERIFY(drop(form, {QUrl::fromLocalFile(good), latin1}));
    clickIndicator(child<QCheckBox>(form, "Check1"));
    clickIndicator(child<QCheckBox>(form, "Check2"));
    QTest::keyClicks(child(form, "Text1"), QStringLiteral("Intro"));
    QTest::keyClick(child(form, "Text1"), Qt::Key_Return);
    QTest::keyClicks(child(form, "Text1"), u"Tom\u00A0Jerry"_qs);
    QTest::mouseClick(child(form, "Command1"), Qt::LeftButton);
    QTRY_COMPARE(shown.shownCount, 1);
    QCOMPARE(readFile(dir.filePath(QStringLiteral("good_new.txt"))),
             unicodeFile(u"CHAPTER01=00:00:01.000\r\nCHAPTER01NAME=Intro\r\nCHAPTER02=00:00:02.000\r\n"
                         u"CHAPTER02NAME=Tom\u00A0Jerry"));
    QVERIFY(!QFile::exists(dir.filePath(u"caf\uFFFD_new.txt"_qs)));
    QCOMPARE(shown.text, u"已成功转换1个文件\n" + QDir::toNativeSeparators(twin) + u"：文件名无法解码");
}

void TestWindow::completionMessage_data()
{
    QTest::addColumn<ConvertReport>("report");
    QTest::addColumn<QString>("title");
    QTest::addColumn<QString>("text");
    const QString path = QStringLiteral("/v/a.txt");
    const QString native = QDir::toNativeSeparators(path);
    ConvertReport failed;
    failed.converted = 2;
    failed.failures = {Failure {Failure::Kind::UnreadableTime, path, 3, QStringLiteral("CHAPTER02=x")},
                       Failure {Failure::Kind::WriteFailed, path, 0, QStringLiteral("No space left on device")}};
    QTest::newRow("failures, in Chinese") << failed << QStringLiteral("未能全部转换")
                                          << u"已成功转换2个文件\n" + native + u"：第3行的时间无法换算：“CHAPTER02=x”\n"
            + native + u"：无法写入" + native + u"（No space left on device）";
    ConvertReport system;
    for (const int error : {ENOENT, EACCES, EPERM, EROFS, ENOSPC, EISDIR, EIO})
        system.failures.append(Failure {Failure::Kind::ReadFailed, path, 0, qt_error_string(error), -1, error});
    QTest::newRow("common system reasons in Chinese, others as the system words them")
        << system << QStringLiteral("未能全部转换")
        << u"已成功转换0个文件\n" + native + u"：无法读取（文件或文件夹不存在）\n" + native
            + u"：无法读取（没有权限）\n" + native + u"：无法读取（没有权限）\n" + native
            + u"：无法读取（文件系统只读）\n" + native + u"：无法读取（磁盘空间不足）\n" + native
            + u"：无法读取（是文件夹）\n" + native + u"：无法读取（" + qt_error_string(EIO) + u"）";
    ConvertReport many;
    many.failures = QList<Failure>(12, Failure {Failure::Kind::IsFolder, path, 0, {}});
    QTest::newRow("past ten failures") << many << QStringLiteral("未能全部转换")
                                       << u"已成功转换0个文件"
            + QString(u'\n' + native + u"：是文件夹，不是章节文件").repeated(10) + u"\n……另有2个文件未能转换";
    ConvertReport mismatch;
    mismatch.converted = 1;
    mismatch.titleMismatches = {{path, 3, 2}};
    QTest::newRow("names count differs: a hint")
        << mismatch << QStringLiteral("成功") << u"已成功转换1个文件\n" + native + u"：有3个章节，名称框有2行";
}

void TestWindow::completionMessage()
{
    QFETCH(ConvertReport, report);
    QFETCH(QString, title);
    QFETCH(QString, text);
    const CompletionMessage message = Tessaline::completionMessage(report);
    QCOMPARE(message.title, title);
    QCOMPARE(message.text, text);
    QCOMPARE(message.isWarning, title != u"成功");
}

QTEST_MAIN(TestWindow)
#include "tst_window.moc"
