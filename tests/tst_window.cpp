// The window's own wiring: its controls and their state, drops into the file list and edits of
// it, the hook, what "Save" hands the conversion and how the run's end is shown.
#include "completionmessage.h"
#include "filelistwidget.h"
#include "form1.h"
#include "module1.h"
#include "moresection.h"
#include "previewpane.h"
#include "runprogress.h"
#include "testsupport.h"

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QElapsedTimer>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QMimeData>
#include <QPlainTextEdit>
#include <QProgressDialog>
#include <QPushButton>
#include <QRadioButton>
#include <QScrollBar>
#include <QSignalSpy>
#include <QTableView>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>
#include <QTimer>

using namespace Tessaline;
using namespace TestSupport;

Q_DECLARE_METATYPE(Tessaline::ConvertOptions)

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
    void moreSectionReachesOptions_data();
    void moreSectionReachesOptions();
    void previewFollowsSelectionAndOptions();
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
    const QStringList order
        = {QStringLiteral("lstFiles"),  QStringLiteral("Check1"), QStringLiteral("Check2"), QStringLiteral("Command1"),
           QStringLiteral("Option1_1"), QStringLiteral("Text1"),  QStringLiteral("more")};
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

void TestWindow::moreSectionReachesOptions_data()
{
    QTest::addColumn<QString>("field"); // its object name in the section
    QTest::addColumn<QString>("value"); // typed, picked, or the folder chosen
    QTest::addColumn<QString>("format"); // picked first
    QTest::addColumn<ConvertOptions>("expected");
    QTest::addColumn<QString>("problem"); // that refuses "Save"; empty: none

    const ConvertOptions today;
    const auto with = [&today](auto change) {
        ConvertOptions options = today;
        change(options);
        return options;
    };
    const QString simple = QStringLiteral("Simple text");
    const QString matroska = QStringLiteral("Matroska XML");
    QTest::newRow("listed rate") << QStringLiteral("rateTo") << QStringLiteral("23.976") << simple
                                 << with([](ConvertOptions &o) {
                                        o.retiming.to = {24000, 1001};
                                    })
                                 << QString();
    QTest::newRow("typed p/q") << QStringLiteral("rateFrom") << QStringLiteral("50/2") << simple
                               << with([](ConvertOptions &o) {
                                      o.retiming.from = {50, 2};
                                  })
                               << QString();
    QTest::newRow("negative offset") << QStringLiteral("offset") << QStringLiteral("-1500") << simple
                                     << with([](ConvertOptions &o) { o.offsetMs = -1500; }) << QString();
    QTest::newRow("ffmetadata") << QStringLiteral("offset") << QStringLiteral("0") << QStringLiteral("ffmetadata")
                                << with([](ConvertOptions &o) { o.format = ChapterFormat::Ffmetadata; }) << QString();
    QTest::newRow("language canonical") << QStringLiteral("language") << QStringLiteral("ger") << matroska
                                        << with([](ConvertOptions &o) {
                                               o.format = ChapterFormat::Matroska;
                                               o.language = QStringLiteral("de");
                                           })
                                        << QString();
    QTest::newRow("chosen folder") << QStringLiteral("chooseFolder") << QStringLiteral("/v/out") << simple
                                   << with([](ConvertOptions &o) { o.outputFolder = QStringLiteral("/v/out"); })
                                   << QString();
    QTest::newRow("rate not a rate") << QStringLiteral("rateFrom") << QStringLiteral("25fps") << simple << today
                                     << u"原帧率：“25fps”不是帧率（如25、29.97或30000/1001）"_qs;
    QTest::newRow("rate past the limit") << QStringLiteral("rateTo") << QStringLiteral("10000001") << simple << today
                                         << u"目标帧率：“10000001”的数字超过10000000"_qs;
    QTest::newRow("offset not whole") << QStringLiteral("offset") << QStringLiteral("1.5") << simple << today
                                      << u"偏移：“1.5”不是−10000000000000到10000000000000之间的整数毫秒"_qs;
    QTest::newRow("language unknown") << QStringLiteral("language") << QStringLiteral("xx-Latn") << matroska
                                      << with([](ConvertOptions &o) { o.format = ChapterFormat::Matroska; })
                                      << u"语言：“xx-Latn”不是ISO 639代码或zh-Hans-CN这样的标记"_qs;
}

// A field of the section reaches the options while the section is open, never once it is
// closed; "ANSI" and "Unicode" apply to simple text only. An invalid value is marked, kept, and
// refuses "Save" before anything is converted.
void TestWindow::moreSectionReachesOptions()
{
    QFETCH(QString, field);
    QFETCH(QString, value);
    QFETCH(QString, format);
    QFETCH(ConvertOptions, expected);
    QFETCH(QString, problem);
    Form1 form;
    form.show();
    const QSize closedSize = form.size();
    auto *more = child<QAbstractButton>(form, "more");
    QVERIFY(!form.findChild<MoreSection *>()); // built on first opening
    QTest::mouseClick(more, Qt::LeftButton);
    auto *section = form.findChild<MoreSection *>();
    QVERIFY(section && section->isVisible() && form.width() > closedSize.width());
    section->setFolderChooser([&value](QWidget *, const QString &) { return value; });

    auto *formatBox = child<QComboBox>(*section, "format");
    formatBox->setCurrentIndex(formatBox->findText(format));
    QWidget *control = child(*section, qPrintable(field));
    if (auto *box = qobject_cast<QComboBox *>(control))
        box->clearEditText();
    if (auto *line = qobject_cast<QLineEdit *>(control))
        line->clear();
    if (qobject_cast<QAbstractButton *>(control))
        QTest::mouseClick(control, Qt::LeftButton);
    else
        QTest::keyClicks(control, value);

    const auto compareOptions = [&form](const ConvertOptions &wanted) {
        const ConvertOptions options = form.options();
        QCOMPARE(options.retiming.from, wanted.retiming.from);
        QCOMPARE(options.retiming.to, wanted.retiming.to);
        QCOMPARE(options.retimeOtherFormats, wanted.retimeOtherFormats);
        QCOMPARE(options.offsetMs, wanted.offsetMs);
        QCOMPARE(options.format, wanted.format);
        QCOMPARE(options.language, wanted.language);
        QCOMPARE(options.outputFolder, wanted.outputFolder);
        QCOMPARE(child(form, "Option1_0")->isEnabled(), wanted.format == ChapterFormat::Simple);
    };
    compareOptions(expected);
    const QWidget *mark = section->findChild<QWidget *>(field + u"Problem");
    QCOMPARE(mark && mark->isVisible(), !problem.isEmpty());
    ShownMessage shown;
    recordMessages(form, shown);
    bool converted = false;
    form.setConversion([&converted](const QStringList &, const ConvertOptions &, const RunControl &) {
        converted = true;
        return ConvertReport();
    });
    if (!problem.isEmpty()) {
        QTest::mouseClick(child(form, "Command1"), Qt::LeftButton);
        QCOMPARE(shown.shownCount, 1);
        QCOMPARE(shown.icon, QMessageBox::Warning);
        QCOMPARE(shown.text, problem + u"\n未转换任何文件");
        QVERIFY(!converted);
    }

    QTest::mouseClick(more, Qt::LeftButton);
    QCOMPARE(form.size(), closedSize);
    compareOptions(ConvertOptions());
    QTest::mouseClick(child(form, "Command1"), Qt::LeftButton); // closed: what was typed is not used
    QTRY_VERIFY(converted);
}

// With the section open, the preview shows the selected file as "Save" would write it, again
// when an option or the names box changes; a file that would fail shows why; no selection, nothing.
void TestWindow::previewFollowsSelectionAndOptions()
{
    QTemporaryDir dir;
    const QString good = dir.filePath(QStringLiteral("good.txt"));
    const QString bad = dir.filePath(QStringLiteral("bad.txt"));
    QVERIFY(writeFile(good, "CHAPTER01=00:00:30.000\r\nCHAPTER01NAME=a"));
    QVERIFY(writeFile(bad, "CHAPTER01=00:00:30.000\r\nCHAPTER01NAME=a\r\nCHAPTER02=xx:00:00.000\r\nCHAPTER02NAME=b"));
    Form1 form;
    form.show();
    QVERIFY(drop(form, {QUrl::fromLocalFile(good), QUrl::fromLocalFile(bad)}));
    QTest::mouseClick(child<QAbstractButton>(form, "more"), Qt::LeftButton);
    auto *pane = form.findChild<PreviewPane *>();
    auto *table = child<QTableView>(*pane, "previewTable");
    auto *status = child<QLabel>(*pane, "previewStatus");
    QSignalSpy shown(pane, &PreviewPane::previewShown);
    const auto cell = [table](int column) { return table->model()->index(0, column).data().toString(); };

    child<QListWidget>(form, "lstFiles")->setCurrentRow(0);
    QVERIFY(shown.wait());
    QCOMPARE(table->model()->rowCount(), 1);
    QCOMPARE(cell(2), QStringLiteral("00:00:30.030")); // the frame's start at 29.97 fps
    QTest::keyClicks(child(form, "offset"), QStringLiteral("5")); // "05": 5 ms
    QVERIFY(shown.wait());
    QCOMPARE(cell(2), QStringLiteral("00:00:30.035"));
    clickIndicator(child<QCheckBox>(form, "Check2"));
    QTest::keyClicks(child(form, "Text1"), QStringLiteral("Intro"));
    QVERIFY(shown.wait());
    QCOMPARE(cell(3), QStringLiteral("Intro"));

    child<QListWidget>(form, "lstFiles")->setCurrentRow(1);
    QVERIFY(shown.wait());
    QVERIFY(table->isHidden());
    QVERIFY2(status->text().startsWith(QDir::toNativeSeparators(bad) + u"：第3行"), qPrintable(status->text()));
    child<QListWidget>(form, "lstFiles")->clearSelection();
    QVERIFY(!table->isHidden() && status->isHidden());
    QCOMPARE(table->model()->rowCount(), 0);
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
