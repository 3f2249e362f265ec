// The window's own wiring: its controls and their state, drops into the file list and edits of
// it, the hook, what "Save" hands the conversion and how the run's end is shown.
#include "completionmessage.h"
#include "droppedfiles.h"
#include "elidedtexttooltip.h"
#include "filelistwidget.h"
#include "form1.h"
#include "module1.h"
#include "moresection.h"
#include "previewpane.h"
#include "processend.h"
#include "tablekeys.h"
#include "testsupport.h"
#include "windowlanguage.h"

#include <QAccessible>
#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QElapsedTimer>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMessageBox>
#include <QMimeData>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QProgressDialog>
#include <QPushButton>
#include <QRadioButton>
#include <QScreen>
#include <QScrollBar>
#include <QSettings>
#include <QSignalSpy>
#include <QSpinBox>
#include <QStandardPaths>
#include <QStyledItemDelegate>
#include <QTableView>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>
#include <QTimer>

#include <algorithm>

#ifdef Q_OS_UNIX
#include <sys/stat.h>
#endif

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

// Answers every question with answer, and records each box's text (an OK box is only read).
void answerBoxes(Form1 &form, QStringList &texts, QMessageBox::StandardButton answer)
{
    form.setMessageBoxPresenter([&texts, answer](QMessageBox &box) {
        texts.append(box.text());
        if (QAbstractButton *button = box.button(answer))
            button->click();
    });
}

// The preview's table once the section is open, showing the list's row.
QTableView *editorOf(Form1 &form, int row, const QString &firstTitle)
{
    if (!child<QAbstractButton>(form, "more")->isChecked())
        QTest::mouseClick(child(form, "more"), Qt::LeftButton);
    child<QListWidget>(form, "lstFiles")->setCurrentRow(row);
    auto *table = child<QTableView>(form, "previewTable");
    if (!QTest::qWaitFor([&] { return table->model()->index(0, 3).data() == firstTitle; }))
        return nullptr;
    table->setFocus();
    return table;
}

// What a screen reader hears of a list entry.
QString heard(QListWidget &list, int row)
{
    return QAccessible::queryAccessibleInterface(&list)->child(row)->text(QAccessible::Name);
}

} // namespace

class TestWindow : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void initialStateAndNamesBox();
    void layoutAndTabOrder();
    void shiftF10OpensContextMenu();
    void openSectionFitsItsContents();
    void openWindowResizes_data();
    void openWindowResizes();
    void openSizeAndColumnsRemembered_data();
    void openSizeAndColumnsRemembered();
    void emptyListSaysSo();
    void lineBreakInNameShownAsMark();
    void readerReasonInChinese();
    void dropsAndListEdits_data();
    void dropsAndListEdits();
    void commandLineAndUndecodableNames();
    void hookPassesEventsOn();
    void moreSectionReachesOptions_data();
    void moreSectionReachesOptions();
    void previewFollowsSelectionAndOptions();
    void cancelStopsRunAfterCurrentFile();
    void shortRunShowsMessageAlone_data();
    void shortRunShowsMessageAlone();
    void outputThatIsAnInputIsNotCounted();
    void completionMessage_data();
    void completionMessage();
    void editsHeldUntilSave();
    void unsavedEditsAsked_data();
    void unsavedEditsAsked();
    void changedOnDiskAsked_data();
    void changedOnDiskAsked();
};

// Each test starts from no remembered open size or columns (QSettings, in QStandardPaths' test
// mode).
void TestWindow::init()
{
    QSettings().clear();
}

// The controls at start, the names box enabled by "ChapterName", and what the controls hand on.
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
    QTest::keyClick(text1, Qt::Key_Return);
    QTest::keyClicks(text1, u"Tom\u00A0Jerry"_qs);
    clickIndicator(child<QCheckBox>(form, "Check1"));
    clickIndicator(child<QRadioButton>(form, "Option1_0"));
    ConvertOptions options = form.options(); // as "Save" hands them on: lines joined by CR LF
    QVERIFY(!options.ShiftFrameRate && options.UseNameBox);
    QCOMPARE(options.NameBoxText, u"Intro\r\nTom\u00A0Jerry"_qs); // a no-break space kept
    QCOMPARE(options.OutputEncoding, OutputEncoding::Ansi);
    clickIndicator(check2);
    QVERIFY(!text1->isEnabled() && !form.options().UseNameBox);
    QVERIFY(text1->toPlainText().startsWith(u"Intro\n")); // kept for the next tick
}

// Every control inside the window, none overlapping another, captions whole; Tab walks them in
// order, the option buttons being one stop entered at the selected one, and on through the
// section. Every control that takes the focus or shows text has a name for screen readers.
void TestWindow::layoutAndTabOrder()
{
    Form1 form;
    form.show();
    QVERIFY(QTest::qWaitForWindowActive(&form));
    const QStringList order
        = {QStringLiteral("lstFiles"),  QStringLiteral("Text1"), QStringLiteral("Check1"),  QStringLiteral("Check2"),
           QStringLiteral("Option1_1"), QStringLiteral("more"),  QStringLiteral("Command1")};
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

    QTest::mouseClick(child(form, "more"), Qt::LeftButton);
    child(form, "Command1")->setFocus();
    const QStringList section
        = {QStringLiteral("addFiles"),     QStringLiteral("rateFrom"),      QStringLiteral("rateTo"),
           QStringLiteral("offset"),       QStringLiteral("snapKeyframes"), QStringLiteral("format"),
           QStringLiteral("edition"),      QStringLiteral("title"),         QStringLiteral("besideInput"),
           QStringLiteral("chooseFolder"), QStringLiteral("previewStatus"), QStringLiteral("lstFiles")};
    for (const QString &name : section) {
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
        QCOMPARE(QApplication::focusWidget()->objectName(), name);
    }
    for (QWidget *control : form.findChildren<QWidget *>()) {
        const auto *label = qobject_cast<const QLabel *>(control);
        if (control->isVisible() && (control->focusPolicy() & Qt::TabFocus || (label && !label->text().isEmpty())))
            QVERIFY2(
                !QAccessible::queryAccessibleInterface(control)->text(QAccessible::Name).isEmpty(),
                qPrintable(control->objectName() + u' ' + QString::fromLatin1(control->metaObject()->className())));
    }
    for (const char *terse : {"Check1", "Check2", "Option1_0", "Option1_1", "Command1"})
        QVERIFY(!child(form, terse)->accessibleDescription().isEmpty());
    // A field of the section is labelled by its caption (the relation a screen reader names it by).
    for (const char *field : {"rateFrom", "rateTo", "offset", "format", "language", "edition", "title"}) {
        const auto labels = QAccessible::queryAccessibleInterface(child(form, field))->relations(QAccessible::Label);
        QVERIFY2(labels.size() == 1 && labels.first().first->text(QAccessible::Name).endsWith(u':'), field);
    }
}

// Shift+F10 opens the focused control's context menu, the one the Menu key opens.
void TestWindow::shiftF10OpensContextMenu()
{
    Form1 form;
    form.show();
    QVERIFY(QTest::qWaitForWindowActive(&form));
    child(form, "lstFiles")->setFocus();
    QStringList shown;
    QTimer::singleShot(0, &form, [&shown] {
        if (auto *menu = qobject_cast<QMenu *>(QApplication::activePopupWidget())) {
            for (const QAction *action : menu->actions())
                shown.append(action->objectName());
            menu->close();
        }
    });
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_F10, Qt::ShiftModifier);
    QCOMPARE(shown, QStringList({u"addFiles"_qs, u"removeEntry"_qs, u"clearList"_qs}));
}

// The open section grows as lines come into it (a chosen folder, the preview's words): none of its
// controls is squeezed below the height it needs.
void TestWindow::openSectionFitsItsContents()
{
    Form1 form;
    form.show();
    QTest::mouseClick(child(form, "more"), Qt::LeftButton);
    auto *section = form.findChild<MoreSection *>();
    section->setFolderChooser([](QWidget *, const QString &) { return u"/v/out"_qs; });
    QTest::mouseClick(child(form, "chooseFolder"), Qt::LeftButton);
    for (const char *field : {"rateFrom", "rateTo", "offset"})
        QTest::keyClicks(child(form, field), QStringLiteral(" not a number").repeated(12));
    const auto fits = [section] {
        const QList<QWidget *> rows = {child(*section, "inFolder"), child(*section, "chooseFolder"),
                                       child(*section, "folder"), child(*section, "previewStatus")};
        return std::all_of(rows.begin(), rows.end(), [](const QWidget *row) {
            const int needed = row->hasHeightForWidth() ? row->heightForWidth(row->width()) : row->sizeHint().height();
            return row->height() >= needed;
        });
    };
    QTRY_VERIFY(fits());
}

void TestWindow::openWindowResizes_data()
{
    QTest::addColumn<QSize>("growth"); // past the first open size; the least size for anything below
    QTest::addColumn<int>("rows"); // of the preview in sight, at least
    QTest::addColumn<bool>("mayScroll"); // sideways, where the columns no longer fit
    QTest::newRow("first size: ten rows, four whole columns") << QSize(0, 0) << 10 << false;
    QTest::newRow("resized large") << QSize(600, 400) << 30 << false;
    QTest::newRow("least: three rows") << QSize(-10'000, -10'000) << 3 << true;
}

// The open window resizes: the list takes the height it gains, the preview the width and height,
// every other control keeps its size, whole and apart from the others; the least size keeps them
// so. Closed, it is the closed window again. The same test runs at a scale of 2 (CTest).
void TestWindow::openWindowResizes()
{
    QFETCH(QSize, growth);
    QFETCH(int, rows);
    QFETCH(bool, mayScroll);
    QTemporaryDir dir;
    const QString file = dir.filePath(u"a.txt"_qs);
    QVERIFY(writeFile(file, "CHAPTER01=00:00:01.000\r\nCHAPTER01NAME=One"));
    Form1 form;
    form.addFiles({{file}});
    child<QListWidget>(form, "lstFiles")->setCurrentRow(0); // the table shows, not words in its place
    form.show();
    QVERIFY(QTest::qWaitForWindowExposed(&form));
    const QSize closed = form.size();
    QList<QRect> closedPlaces; // of the original controls
    for (const QWidget *control : form.findChildren<QWidget *>(Qt::FindDirectChildrenOnly))
        closedPlaces.append(control->geometry());
    QTest::mouseClick(child(form, "more"), Qt::LeftButton);
    QVERIFY(form.minimumSize() != form.maximumSize());
    QVERIFY(form.screen()->availableGeometry().contains(form.frameGeometry()));
    const QSize first = form.size();
    auto *list = child(form, "lstFiles");
    auto *table = child<QTableView>(form, "previewTable");
    QList<QWidget *> controls; // every other one that shows, the original ones and the section's
    for (QWidget *control : form.findChildren<QWidget *>()) {
        if (control->isVisible() && control->parentWidget() == &form && control != list
            && !qobject_cast<MoreSection *>(control))
            controls.append(control);
    }
    for (QWidget *control : form.findChild<MoreSection *>()->findChildren<QWidget *>(Qt::FindDirectChildrenOnly)) {
        if (control->isVisible() && !qobject_cast<PreviewPane *>(control))
            controls.append(control);
    }
    QList<QSize> sizes;
    for (const QWidget *control : controls)
        sizes.append(control->size());
    const QSize listSize = list->size();
    const QSize tableSize = table->size();

    form.resize(first + growth);
    const QSize grown = form.size() - first;
    QTRY_COMPARE(table->size(), tableSize + grown);
    QCOMPARE(list->size(), listSize + QSize(0, grown.height()));
    for (qsizetype i = 0; i < controls.size(); ++i) {
        QWidget *control = controls[i];
        const QString name = control->objectName() + u' ' + QString::fromLatin1(control->metaObject()->className());
        QVERIFY2(control->size() == sizes[i], qPrintable(name));
        QVERIFY2(form.rect().contains(QRect(control->mapTo(&form, QPoint()), control->size())), qPrintable(name));
        for (const QWidget *other : controls) {
            if (other != control && other->parentWidget() == control->parentWidget())
                QVERIFY2(!control->geometry().intersects(other->geometry()), qPrintable(name));
        }
    }
    QHeaderView *columns = table->horizontalHeader();
    // The scroll bar shows exactly when the columns, each at least as wide as its caption, pass
    // the viewport's width.
    QTRY_COMPARE(table->horizontalScrollBar()->isVisible(), columns->length() > table->viewport()->width());
    const bool scrolls = table->horizontalScrollBar()->isVisible();
    QVERIFY(mayScroll || !scrolls);
    for (int column = 0; !scrolls && column < columns->count(); ++column) {
        const int left = columns->sectionViewportPosition(column);
        QVERIFY(left >= 0 && left + columns->sectionSize(column) <= table->viewport()->width());
        QVERIFY(columns->sectionSize(column) >= columns->sectionSizeHint(column)); // its caption whole
    }
    QVERIFY(table->viewport()->height() >= rows * table->verticalHeader()->defaultSectionSize());

    QTest::mouseClick(child(form, "more"), Qt::LeftButton);
    QCOMPARE(form.size(), closed);
    QCOMPARE(form.minimumSize(), form.maximumSize());
    for (qsizetype i = 0; i < closedPlaces.size(); ++i)
        QCOMPARE(form.findChildren<QWidget *>(Qt::FindDirectChildrenOnly)[i]->geometry(), closedPlaces[i]);
}

void TestWindow::openSizeAndColumnsRemembered_data()
{
    QTest::addColumn<bool>("closeSection"); // before the window goes; otherwise it goes open
    QTest::newRow("section closed") << true;
    QTest::newRow("window gone while open") << false;
}

// The open window's size and the preview's columns as the user left them are those of the next
// run's first opening, and stay as a file's preview comes in.
void TestWindow::openSizeAndColumnsRemembered()
{
    QFETCH(bool, closeSection);
    QSize left;
    int timeReadWidth = 0;
    {
        Form1 form;
        form.show();
        QTest::mouseClick(child(form, "more"), Qt::LeftButton);
        form.resize(form.size() + QSize(23, 45));
        left = form.size();
        QHeaderView *columns = child<QTableView>(form, "previewTable")->horizontalHeader();
        columns->resizeSection(1, columns->sectionSize(1) + 30);
        timeReadWidth = columns->sectionSize(1);
        if (closeSection)
            QTest::mouseClick(child(form, "more"), Qt::LeftButton);
    }
    QTemporaryDir dir;
    const QString file = dir.filePath(u"a.txt"_qs);
    QVERIFY(writeFile(file, "CHAPTER01=00:00:01.000\r\nCHAPTER01NAME=One"));
    Form1 form;
    form.addFiles({{file}});
    form.show();
    QTest::mouseClick(child(form, "more"), Qt::LeftButton);
    QCOMPARE(form.size(), left);
    QSignalSpy shown(form.findChild<PreviewPane *>(), &PreviewPane::previewShown);
    child<QListWidget>(form, "lstFiles")->setCurrentRow(0);
    QVERIFY(shown.wait());
    QCOMPARE(child<QTableView>(form, "previewTable")->horizontalHeader()->sectionSize(1), timeReadWidth);
}

// "Save" with no file listed says so, and converts nothing.
void TestWindow::emptyListSaysSo()
{
    Form1 form;
    ShownMessage shown;
    recordMessages(form, shown);
    bool converted = false;
    form.setConversion([&converted](const QStringList &, const ConvertOptions &, const RunControl &) {
        converted = true;
        return ConvertReport();
    });
    QTest::mouseClick(child(form, "Command1"), Qt::LeftButton);
    QCOMPARE(shown.shownCount, 1);
    QCOMPARE(shown.title, u"没有文件"_qs);
    QVERIFY(shown.text.startsWith(u"文件列表是空的，未转换任何文件"));
    QVERIFY(!converted);
}

// A line break in a file's name shows as a mark, on the entry's one line; the entry is the name.
void TestWindow::lineBreakInNameShownAsMark()
{
    Form1 form;
    form.addFiles({{u"/v/new\nline.txt"_qs}});
    auto *list = child<QListWidget>(form, "lstFiles");
    const QModelIndex entry = list->model()->index(0, 0);
    auto *delegate = qobject_cast<QStyledItemDelegate *>(list->itemDelegateForIndex(entry));
    QCOMPARE(delegate->displayText(entry.data(), QLocale()), u"/v/new\u23CEline.txt"_qs);
    QCOMPARE(form.files(), QStringList {u"/v/new\nline.txt"_qs});
}

// A reader's reason shows in Chinese, in the message of a real run: past the probe's bytes of
// timestamp lines, a line without a time.
void TestWindow::readerReasonInChinese()
{
    QTemporaryDir dir;
    const QString path = dir.filePath(u"long.txt"_qs);
    const QByteArray line = "0:01 Intro\n";
    const qsizetype lines = 64 * 1024 / line.size() + 1;
    QVERIFY(writeFile(path, line.repeated(lines) + "no time here\n"));
    Form1 form;
    ShownMessage shown;
    recordMessages(form, shown);
    form.addFiles({{path}});
    QTest::mouseClick(child(form, "Command1"), Qt::LeftButton);
    QTRY_COMPARE(shown.shownCount, 1);
    QCOMPARE(shown.text,
             u"已成功转换0个文件\n" + QDir::toNativeSeparators(path)
                 + QStringLiteral("：第%1行无法读取：这一行开头不是[时:]分:秒格式的时间和标题").arg(lines + 1));
}

void TestWindow::dropsAndListEdits_data()
{
    QTest::addColumn<int>("key"); // removes the selected entry; 0: "Remove" in the context menu
    QTest::addColumn<QString>("route"); // how the file below comes in: dropped, Ctrl+O, the section's button
    QTest::addColumn<QString>("name");
    QTest::addColumn<QByteArray>("bytes"); // null: a FIFO
    QTest::addColumn<bool>("listed");
    QTest::newRow("Delete, WebVTT dropped") << int(Qt::Key_Delete) << u"drop"_qs << u"film.vtt"_qs
                                            << QByteArray("WEBVTT\n\n00:00.000 --> 00:01.000\nOne\n") << true;
    QTest::newRow("Backspace, ffmetadata by Ctrl+O")
        << int(Qt::Key_Backspace) << u"ctrl+o"_qs << u"film.meta"_qs
        << QByteArray(";FFMETADATA1\n[CHAPTER]\nTIMEBASE=1/1000\nSTART=0\nEND=1000\ntitle=One\n") << true;
    QTest::newRow("context menu, other file by the button")
        << 0 << u"button"_qs << u"notes.doc"_qs << QByteArray("Some notes, no chapters\n") << false;
#ifdef Q_OS_UNIX
    QTest::newRow("FIFO refused, never waited for") << 0 << u"drop"_qs << u"pipe.vtt"_qs << QByteArray() << false;
#endif
}

// A drop, Ctrl+O or the section's "Add files…" (Enter on it) append the files, natively written, in order,
// duplicates kept: a ".txt" (exact case) by its name, any other when a format claims its bytes.
// The list scrolls over its widest entry plus 8 pixels, before and after a removal.
void TestWindow::dropsAndListEdits()
{
    QFETCH(int, key);
    QFETCH(QString, route);
    QFETCH(QString, name);
    QFETCH(QByteArray, bytes);
    QFETCH(bool, listed);
    QTemporaryDir dir;
    const QString file = QDir::toNativeSeparators(dir.filePath(name));
#ifdef Q_OS_UNIX
    QVERIFY(bytes.isNull() ? ::mkfifo(QFile::encodeName(file).constData(), 0600) == 0 : writeFile(file, bytes));
#else
    QVERIFY(writeFile(file, bytes));
#endif
    Form1 form;
    form.show();
    form.setFileChooser([&file](QWidget *, const QString &) { return QStringList {file, u"/v/missing.vtt"_qs}; });
    auto *list = qobject_cast<FileListWidget *>(child<QListWidget>(form, "lstFiles"));
    auto *remove = child<QAction>(*list, "removeEntry");
    auto *clear = child<QAction>(*list, "clearList");
    QCOMPARE(list->actions().first(), form.findChild<QAction *>(u"addFiles"_qs)); // first in the context menu
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
    if (route == u"drop") {
        QVERIFY(drop(form, {QUrl::fromLocalFile(file)}));
    } else if (route == u"ctrl+o") {
        QVERIFY(QTest::qWaitForWindowActive(&form)); // a window's shortcuts work while it is active
        QTest::keyClick(&form, Qt::Key_O, Qt::ControlModifier);
    } else { // Enter presses the focused button, not "Save"
        form.setMessageBoxPresenter([](QMessageBox &) { QFAIL("Save was pressed"); });
        QTest::mouseClick(child(form, "more"), Qt::LeftButton);
        child(form, "addFiles")->setFocus();
        QTest::keyClick(child(form, "addFiles"), Qt::Key_Return);
    }
    QVERIFY(drop(form, {QUrl::fromLocalFile(shortPath)}));
    QStringList dropped = {QDir::toNativeSeparators(shortPath), QDir::toNativeSeparators(longPath)};
    dropped += listed ? QStringList {file, dropped[0]} : QStringList {dropped[0]};
    QCOMPARE(form.files(), dropped);
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
    dropped.removeAt(1);
    QCOMPARE(form.files(), dropped);
    QCOMPARE(list->horizontalExtent(), Form1::ListTextWidth(list));
    QTRY_COMPARE(list->horizontalScrollBar()->maximum(),
                 std::max(0, Form1::ListTextWidth(list) - list->viewport()->width()));
    clear->trigger();
    QCOMPARE(list->count(), 0);
    QCOMPARE(list->horizontalExtent(), 0);
    QVERIFY(!clear->isEnabled());
}

// The program's arguments past Qt's own: options before "--" left out, names made absolute, a
// name that does not decode flagged; the window lists them as it lists a drop. A name of the
// command line or a drop that does not decode is refused at "Save", never taken for its U+FFFD
// twin.
void TestWindow::commandLineAndUndecodableNames()
{
    QTemporaryDir dir;
    const QString twin = QDir::toNativeSeparators(dir.filePath(u"caf\uFFFD.txt"_qs));
    QVERIFY(writeFile(dir.filePath(u"film.vtt"_qs), "WEBVTT\n\n00:00.000 --> 00:01.000\nOne\n"));
    QVERIFY(writeFile(twin, "CHAPTER01=00:00:01.000\r\nCHAPTER01NAME=a"));
    const QString previous = QDir::currentPath();
    QDir::setCurrent(dir.path());
    const QString hangul = u"\uD55C\uAE00.vtt"_qs; // outside most ANSI code pages, as Windows gives it
    const QList<DroppedPath> named = commandLinePaths(QStringList {u"tessaline"_qs, u"-x"_qs, hangul});
    const char *argv[] = {"tessaline", "--unknown", "film.vtt", "notes.doc", "--", "-x.txt", "caf\xE9.txt"};
    const QList<DroppedPath> paths = commandLinePaths(int(std::size(argv)), argv);
    QDir::setCurrent(previous);
    const QString native = QDir::toNativeSeparators(dir.path()) + QDir::separator();
    QCOMPARE(named.size(), 1);
    QCOMPARE(named[0].path, native + hangul);
#ifndef Q_OS_UNIX
    QSKIP("the rest is of names as bytes, which on Windows are in the ANSI code page and always decode");
#endif
    QStringList names;
    for (const DroppedPath &path : paths)
        names.append(path.path + (path.undecodable ? u" (undecodable)" : u""));
    QCOMPARE(names,
             QStringList({native + u"film.vtt", native + u"notes.doc", native + u"-x.txt", twin + u" (undecodable)"}));

    Form1 form;
    form.show();
    ShownMessage shown;
    recordMessages(form, shown);
    form.addFiles(paths);
    QVERIFY(drop(form, {QUrl::fromEncoded(QUrl::fromLocalFile(dir.path()).toEncoded() + "/caf%E9.txt")}));
    QCOMPARE(form.files(), QStringList({native + u"film.vtt", native + u"-x.txt", twin, twin}));
    QTest::mouseClick(child(form, "Command1"), Qt::LeftButton);
    QTRY_COMPARE(shown.shownCount, 1);
    QVERIFY(!QFile::exists(dir.filePath(u"caf\uFFFD_new.txt"_qs)));
    QVERIFY(QFile::exists(dir.filePath(u"film_new.txt"_qs)));
    QCOMPARE(shown.text.count(twin + u"：文件名无法解码"), 2);
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
    QTest::newRow("typed p/q") << QStringLiteral("rateFrom") << QStringLiteral("50/2") << simple
                               << with([](ConvertOptions &o) {
                                      o.retiming.from = {50, 2};
                                  })
                               << QString();
    QTest::newRow("negative offset") << QStringLiteral("offset") << QStringLiteral("-1500") << simple
                                     << with([](ConvertOptions &o) { o.offsetMs = -1500; }) << QString();
    QTest::newRow("language canonical") << QStringLiteral("language") << QStringLiteral("ger") << matroska
                                        << with([](ConvertOptions &o) {
                                               o.format = ChapterFormat::Matroska;
                                               o.language = QStringLiteral("de");
                                           })
                                        << QString();
    QTest::newRow("chosen folder") << QStringLiteral("chooseFolder") << QStringLiteral("/v/out") << simple
                                   << with([](ConvertOptions &o) { o.outputFolder = QStringLiteral("/v/out"); })
                                   << QString();
    QTest::newRow("keyframes video") << QStringLiteral("snapKeyframes") << QStringLiteral("/v/film.mkv") << simple
                                     << with([](ConvertOptions &o) { o.snapKeyframes = QStringLiteral("/v/film.mkv"); })
                                     << QString();
    QTest::newRow("keyframes video chosen, then cleared")
        << QStringLiteral("clearKeyframes") << QStringLiteral("/v/film.mkv") << simple << today << QString();
    QTest::newRow("Matroska edition") << QStringLiteral("edition") << QStringLiteral("2") << simple
                                      << with([](ConvertOptions &o) { o.read.edition = 2; }) << QString();
    QTest::newRow("DVD title") << QStringLiteral("title") << QStringLiteral("3") << simple
                               << with([](ConvertOptions &o) { o.read.title = 3; }) << QString();
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
    form.addFiles({{u"/v/a.txt"_qs}});
    form.show();
    const QSize closedSize = form.size();
    auto *more = child<QAbstractButton>(form, "more");
    QVERIFY(!form.findChild<MoreSection *>()); // built on first opening
    QTest::mouseClick(more, Qt::LeftButton);
    auto *section = form.findChild<MoreSection *>();
    QVERIFY(section && section->isVisible() && form.width() > closedSize.width());
    section->setFolderChooser([&value](QWidget *, const QString &) { return value; });
    section->setVideoChooser([&value](QWidget *, const QString &) { return value; });

    auto *formatBox = child<QComboBox>(*section, "format");
    formatBox->setCurrentIndex(formatBox->findText(format));
    QWidget *control = child(*section, qPrintable(field));
    if (auto *box = qobject_cast<QComboBox *>(control))
        box->clearEditText();
    if (auto *line = qobject_cast<QLineEdit *>(control))
        line->clear();
    if (auto *number = qobject_cast<QAbstractSpinBox *>(control))
        number->clear();
    if (field == u"clearKeyframes") // which clears a video chosen
        QTest::mouseClick(child(*section, "snapKeyframes"), Qt::LeftButton);
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
        QCOMPARE(options.snapKeyframes, wanted.snapKeyframes);
        QCOMPARE(options.read.edition, wanted.read.edition);
        QCOMPARE(options.read.title, wanted.read.title);
        QCOMPARE(child(form, "Option1_0")->isEnabled(), wanted.format == ChapterFormat::Simple);
    };
    compareOptions(expected);
    const QWidget *mark = section->findChild<QWidget *>(field + u"Problem");
    QCOMPARE(mark && mark->isVisible(), !problem.isEmpty());
    if (mark) // the field itself says that it is invalid, and why
        QCOMPARE(QAccessible::queryAccessibleInterface(control)->text(QAccessible::Description) == u"无效：" + problem,
                 !problem.isEmpty());
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
    QCOMPARE(cell(1) + u' ' + cell(2), QStringLiteral("00:00:30.000 00:00:30.030")); // the frame's start at 29.97 fps
    QStringList headers; // English, as the captions are
    for (int column = 0; column < table->model()->columnCount(); ++column)
        headers.append(table->model()->headerData(column, Qt::Horizontal).toString());
    QCOMPARE(headers, QStringList({u"No."_qs, u"Time read"_qs, u"Time written"_qs, u"Title"_qs}));
    QTest::keyClicks(child(form, "offset"), QStringLiteral("5")); // "05": 5 ms
    QVERIFY(shown.wait());
    QCOMPARE(cell(2), QStringLiteral("00:00:30.035"));
    // Snapped to the keyframes of a video (0, 2.002, 2.336, 4.046 and 4.963 s): 30.035 s is past them.
    const QString video = QFINDTESTDATA("data/cases/snap-keyframes/film.mkv");
    form.findChild<MoreSection *>()->setVideoChooser([&video](QWidget *, const QString &) { return video; });
    QTest::mouseClick(child(form, "snapKeyframes"), Qt::LeftButton);
    QVERIFY(shown.wait());
    const QModelIndex written = table->model()->index(0, 2);
    QCOMPARE(written.data().toString(), QStringLiteral("00:00:30.035"));
    QVERIFY(!written.data(Qt::DecorationRole).isNull());
    QVERIFY(!ElidedTextToolTip::isElided(table, written)); // the time whole beside the mark
    QVERIFY(written.data(Qt::ToolTipRole).toString().startsWith(u"未对齐到关键帧：第1章（00:00:30.035）："));
    QCOMPARE(written.data(Qt::AccessibleTextRole).toString(), u"00:00:30.035，未对齐到关键帧"_qs);
    child<QLineEdit>(form, "offset")->setText(QStringLiteral("-25530")); // 4.5 s: 454 ms after 4.046 s
    QVERIFY(shown.wait());
    QCOMPARE(cell(2), QStringLiteral("00:00:04.046"));
    QVERIFY(table->model()->index(0, 2).data(Qt::DecorationRole).isNull());
    QCOMPARE(table->model()->index(0, 2).data(Qt::ToolTipRole).toString(), u"已对齐到关键帧，原为00:00:04.500"_qs);
    QTest::mouseClick(child(form, "clearKeyframes"), Qt::LeftButton);
    QVERIFY(shown.wait());
    QCOMPARE(cell(2), QStringLiteral("00:00:04.500"));
    clickIndicator(child<QCheckBox>(form, "Check2"));
    QTest::keyClicks(child(form, "Text1"), QStringLiteral("Intro"));
    QVERIFY(shown.wait());
    QCOMPARE(cell(3), QStringLiteral("Intro"));

    child<QListWidget>(form, "lstFiles")->setCurrentRow(1);
    QVERIFY(shown.wait());
    QVERIFY(table->isHidden());
    QVERIFY2(status->text().startsWith(QDir::toNativeSeparators(bad) + u"：第3行"), qPrintable(status->text()));
    QTest::keyClicks(child(form, "offset"), QStringLiteral("x"));
    QVERIFY(status->text().startsWith(u"设置有误，无法预览：\n偏移："));
    child<QListWidget>(form, "lstFiles")->clearSelection();
    QTest::keyClick(child(form, "offset"), Qt::Key_Backspace);
    QCOMPARE(status->text(), u"在列表中选择一个文件，这里显示它保存后的章节"_qs);
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
    QCOMPARE(progress->windowTitle(), u"正在转换"_qs);
    QCOMPARE(QAccessible::queryAccessibleInterface(progress)->text(QAccessible::Name), u"转换进度"_qs);
    QCOMPARE(QAccessible::queryAccessibleInterface(progress->findChild<QProgressBar *>())->text(QAccessible::Name),
             u"已转换的文件"_qs);
    progress->findChild<QPushButton *>()->click();

    QTRY_COMPARE(shown.shownCount, 1);
    QCOMPARE(shown.title, QStringLiteral("已取消"));
    QCOMPARE(shown.icon, QMessageBox::Warning);
    QCOMPARE(shown.text, QStringLiteral("已成功转换1个文件\n已取消：其余1个文件未转换"));
    QVERIFY(QFile::exists(dir.filePath(QStringLiteral("first_new.txt"))));
    QVERIFY(!QFile::exists(dir.filePath(QStringLiteral("second_new.txt"))));
    QVERIFY(command1->isEnabled());
    QCOMPARE(child<QListWidget>(form, "lstFiles")->count(), 2); // a run leaves the list as it was
}

void TestWindow::shortRunShowsMessageAlone_data()
{
    QTest::addColumn<QString>("start"); // the control that has the focus when Enter presses "Save"
    QTest::addColumn<int>("key");
    QTest::newRow("Enter on the list, Enter closes it") << u"lstFiles"_qs << int(Qt::Key_Return);
    QTest::newRow("Enter on a check box, Escape closes it") << u"Check1"_qs << int(Qt::Key_Escape);
}

// Enter presses "Save". A run shorter than the progress delay, through the real delay and the
// real message box: past the delay the box is still alone, with the keyboard, and a failed file
// is not counted.
void TestWindow::shortRunShowsMessageAlone()
{
    QFETCH(QString, start);
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
    child(form, qPrintable(start))->setFocus();
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Return);
    QTRY_VERIFY_WITH_TIMEOUT(shown.shownCount == 1, 10000);
    QVERIFY(!dialogSeen);
    QVERIFY(boxHadFocus);
    QVERIFY(closed);
    QCOMPARE(shown.title, QStringLiteral("未能全部转换"));
    QCOMPARE(shown.text,
             u"已成功转换1个文件\n" + QDir::toNativeSeparators(missing) + u"：无法读取（文件或文件夹不存在）");
    QVERIFY(form.findChildren<QProgressDialog *>().isEmpty());
}

// "Save" with a file and its output listed: the output, the user's own file, is left as it was, and
// the message counts one file and says why the other was not converted.
void TestWindow::outputThatIsAnInputIsNotCounted()
{
    QTemporaryDir dir;
    const QString film = QDir::toNativeSeparators(dir.filePath(QStringLiteral("film.txt")));
    const QString own = QDir::toNativeSeparators(dir.filePath(QStringLiteral("film_new.txt")));
    QVERIFY(writeFile(film, "CHAPTER01=00:00:01.000\r\nCHAPTER01NAME=One"));
    const QByteArray ownChapters = "CHAPTER01=00:00:02.000\r\nCHAPTER01NAME=Mine";
    QVERIFY(writeFile(own, ownChapters));
    Form1 form;
    ShownMessage shown;
    recordMessages(form, shown);
    child<QListWidget>(form, "lstFiles")->addItems({film, own});
    QTest::mouseClick(child(form, "Command1"), Qt::LeftButton);
    QTRY_COMPARE(shown.shownCount, 1);
    QCOMPARE(shown.title, QStringLiteral("未能全部转换"));
    QCOMPARE(shown.text, u"已成功转换1个文件\n" + film + u"：输出文件“" + own + u"”也是本次转换的输入，未写入");
    QCOMPARE(readFile(own), ownChapters);
}

void TestWindow::completionMessage_data()
{
    QTest::addColumn<ConvertReport>("report");
    QTest::addColumn<QString>("title");
    QTest::addColumn<QString>("text");
    const QString path = QStringLiteral("/v/a.txt");
    const QString native = QDir::toNativeSeparators(path);
    const QString output = QStringLiteral("/v/a_new.txt");
    const QString nativeOutput = QDir::toNativeSeparators(output);
    ConvertReport failed;
    failed.converted = 2;
    failed.failures
        = {Failure {Failure::Kind::UnreadableTime, path, 3, QStringLiteral("CHAPTER02=x")},
           Failure {Failure::Kind::WriteFailed, path, 0, QStringLiteral("No space left on device"), -1, 0, output}};
    QTest::newRow("failures, in Chinese, a write failure naming the input and then the output")
        << failed << QStringLiteral("未能全部转换")
        << u"已成功转换2个文件\n" + native + u"：第3行的时间无法换算：“CHAPTER02=x”\n" + native + u"：无法写入“"
            + nativeOutput + u"”（No space left on device）";
    ConvertReport shared;
    shared.failures = {Failure {Failure::Kind::OutputShared, path, 0, QStringLiteral("/w/a.txt"), -1, 0, output}};
    QTest::newRow("an output shared with another input, naming both")
        << shared << QStringLiteral("未能全部转换")
        << u"已成功转换0个文件\n" + native + u"：输出文件“" + nativeOutput + u"”与“"
            + QDir::toNativeSeparators(QStringLiteral("/w/a.txt")) + u"”的输出相同，未写入";
    ConvertReport chapterTime;
    chapterTime.failures = {Failure {Failure::Kind::TimeOutOfRange, path, 0, QStringLiteral("00:00:00.000")}};
    chapterTime.failures[0].chapter = 3;
    QTest::newRow("a time of a format without lines: its chapter")
        << chapterTime << QStringLiteral("未能全部转换")
        << u"已成功转换0个文件\n" + native + u"：第3章的时间换算后超出范围：“00:00:00.000”";
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
    ConvertReport noVideo;
    noVideo.runFailure = Failure {Failure::Kind::BadInput, QStringLiteral("/v/a.m4a"), 0, QStringLiteral("no video")};
    QTest::newRow("the run stopped by the video to snap to, named") << noVideo << QStringLiteral("未能全部转换")
                                                                    << u"已成功转换0个文件\n"
            + QDir::toNativeSeparators(QStringLiteral("/v/a.m4a")) + u"：无法读取：no video，未转换任何文件";
    ConvertReport mismatch;
    mismatch.converted = 1;
    mismatch.titleMismatches = {{path, 3, 2}};
    QTest::newRow("names count differs: a hint")
        << mismatch << QStringLiteral("成功") << u"已成功转换1个文件\n" + native + u"：有3个章节，名称框有2行";
    ConvertReport replaced;
    replaced.converted = 1;
    replaced.replacedCharacters = {path};
    QTest::newRow("characters written as '?': a warning naming the files")
        << replaced << QStringLiteral("部分字符已替换")
        << u"已成功转换1个文件\n以下文件中有ANSI代码页无法表示的字符，已写为“?”：\n" + native;
    ConvertReport warned;
    warned.converted = 1;
    warned.warnings = {{path, QStringLiteral("a")}};
    QTest::newRow("a writer's warning: a warning naming the file")
        << warned << QStringLiteral("已转换，有提示")
        << u"已成功转换1个文件\n以下文件的输出有提示：\n" + native + u"：a";
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

// Two titles and a time of an .mkv and a title of a Blu-ray playlist corrected through the keyboard,
// a chapter deleted and the deletion undone, a time that is none refusing "Save"; the edits held
// while the other file is shown, the edited file marked in the list; "Save" writes exactly those
// chapters, and the marks go. Every cell has a name for a screen reader, an invalid one says why.
void TestWindow::editsHeldUntilSave()
{
    QTemporaryDir dir;
    const QString mkv = QDir::toNativeSeparators(dir.filePath(u"chapters.mkv"_qs));
    const QString mpls = QDir::toNativeSeparators(dir.filePath(u"playlist.mpls"_qs));
    QVERIFY(QFile::copy(QFINDTESTDATA("data/formats/matroska/chapters.mkv"), mkv));
    QVERIFY(QFile::copy(QFINDTESTDATA("data/formats/mpls/playlist.mpls"), mpls));
    Form1 form;
    QStringList shown;
    answerBoxes(form, shown, QMessageBox::Cancel);
    form.addFiles({{mkv}, {mpls}});
    form.show();
    QVERIFY(QTest::qWaitForWindowActive(&form));
    auto *list = child<QListWidget>(form, "lstFiles");
    QTableView *table = editorOf(form, 0, u"Intro"_qs);
    QVERIFY(table);
    editCell(*table, 0, 3, u"开场"_qs);
    editCell(*table, 1, 3, u"隐藏的场景"_qs);
    editCell(*table, 2, 1, u"00:00:03.000"_qs);
    keyAt(*table, 1, 0, Qt::Key_Delete);
    QCOMPARE(table->model()->rowCount(), 2);
    QTest::keyClick(table, Qt::Key_Z, Qt::ControlModifier);
    editCell(*table, 0, 1, u"0:00"_qs);
    QAccessibleTableInterface *cells = QAccessible::queryAccessibleInterface(table)->tableInterface();
    for (int row = 0; row < 3; ++row) {
        for (int column = 0; column < 4; ++column)
            QVERIFY(!cells->cellAt(row, column)->text(QAccessible::Name).isEmpty());
    }
    const QString invalid = u"“0:00”不是时:分:秒.毫秒格式的时间（如00:01:30.500）"_qs;
    QCOMPARE(cells->cellAt(0, 1)->text(QAccessible::Description), u"无效：" + invalid);
    QTest::mouseClick(child(form, "Command1"), Qt::LeftButton);
    QCOMPARE(shown.value(0), mkv + u"：第1章：" + invalid + u"\n未转换任何文件");
    QVERIFY(!QFile::exists(dir.filePath(u"chapters_new.txt"_qs)));
    table->setFocus();
    QTest::keyClick(table, Qt::Key_Z, Qt::ControlModifier);

    QVERIFY((table = editorOf(form, 1, u"Chapter 01"_qs)));
    QVERIFY(heard(*list, 0).endsWith(u"（有未保存的编辑）"));
    editCell(*table, 1, 3, u"第二章"_qs);
    keyAt(*table, 2, 0, Qt::Key_Delete);
    QVERIFY((table = editorOf(form, 0, u"开场"_qs)));
    QTest::mouseClick(child(form, "Command1"), Qt::LeftButton);
    QTRY_COMPARE(shown.size(), 2);
    QCOMPARE(shown[1], u"已成功转换2个文件"_qs);
    QCOMPARE(readFile(dir.filePath(u"chapters_new.txt"_qs)),
             unicodeFile(
                 u"CHAPTER01=00:00:00.000\r\nCHAPTER01NAME=开场\r\nCHAPTER02=00:00:01.001\r\nCHAPTER02NAME=隐藏的场景"
                 u"\r\nCHAPTER03=00:00:03.003\r\nCHAPTER03NAME=片尾"));
    QCOMPARE(
        readFile(dir.filePath(u"playlist_new.txt"_qs)),
        unicodeFile(
            u"CHAPTER01=00:00:00.000\r\nCHAPTER01NAME=Chapter 01\r\nCHAPTER02=00:00:05.005\r\nCHAPTER02NAME=第二章"));
    QCOMPARE(heard(*list, 0), mkv);
    QCOMPARE(heard(*list, 1), mpls);
}

void TestWindow::unsavedEditsAsked_data()
{
    QTest::addColumn<QString>("action"); // close, remove (Delete on the list) or clear
    QTest::addColumn<int>("answer"); // the button; 0: Escape, on a box shown for real
    QTest::addColumn<bool>("gone"); // the window closed, or the entry removed
    QTest::addColumn<bool>("written");
    QTest::newRow("closing, Cancel: the window and the edits stay")
        << u"close"_qs << int(QMessageBox::Cancel) << false << false;
    QTest::newRow("closing, Save: written, then closed") << u"close"_qs << int(QMessageBox::Save) << true << true;
    QTest::newRow("removing, Discard: removed unwritten") << u"remove"_qs << int(QMessageBox::Discard) << true << false;
    QTest::newRow("clearing, Save: written, then cleared") << u"clear"_qs << int(QMessageBox::Save) << true << true;
    QTest::newRow("closing, Escape on the box: nothing changes") << u"close"_qs << 0 << false << false;
}

// A file with edits not yet saved does not leave the list, nor the window close, unasked.
void TestWindow::unsavedEditsAsked()
{
    QFETCH(QString, action);
    QFETCH(int, answer);
    QFETCH(bool, gone);
    QFETCH(bool, written);
    QTemporaryDir dir;
    const QString path = QDir::toNativeSeparators(dir.filePath(u"film.txt"_qs));
    QVERIFY(writeFile(path, "CHAPTER01=00:00:01.000\r\nCHAPTER01NAME=a"));
    Form1 form;
    QStringList shown;
    answerBoxes(form, shown, QMessageBox::StandardButton(answer));
    form.addFiles({{path}});
    form.show();
    QVERIFY(QTest::qWaitForWindowActive(&form));
    QTableView *table = editorOf(form, 0, u"a"_qs);
    QVERIFY(table);
    editCell(*table, 0, 3, u"mine"_qs);
    QTimer escape; // on the box, once it shows: the real one, run by exec()
    if (!answer) {
        form.setMessageBoxPresenter([](QMessageBox &box) { box.exec(); });
        QObject::connect(&escape, &QTimer::timeout, [&escape, &shown] {
            if (auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget())) {
                escape.stop();
                shown.append(box->text());
                QTest::keyClick(box, Qt::Key_Escape);
            }
        });
        escape.start(10);
    }
    auto *list = child<QListWidget>(form, "lstFiles");
    if (action == u"close") {
        form.close();
    } else if (action == u"remove") {
        list->setFocus();
        QTest::keyClick(list, Qt::Key_Delete);
    } else {
        child<QAction>(*list, "clearList")->trigger();
    }
    QTRY_COMPARE(!form.isVisible() || list->count() == 0, gone);
    QCOMPARE(shown.value(0),
             u"以下文件有未保存的编辑：\n" + path + u"\n"
                 + (action == u"close" ? u"关闭之前要保存这些编辑吗？" : u"移除之前要保存这些编辑吗？"));
    QCOMPARE(readFile(dir.filePath(u"film_new.txt"_qs)).contains(unicodeFile(u"mine").sliced(2)), written);
    if (!gone)
        QVERIFY(heard(*list, 0).endsWith(u"（有未保存的编辑）") && table->model()->index(0, 3).data() == u"mine"_qs);
}

void TestWindow::changedOnDiskAsked_data()
{
    QTest::addColumn<int>("answer");
    QTest::addColumn<QString>("title"); // written; empty: nothing written
    QTest::newRow("use my edits") << int(QMessageBox::Save) << u"mine"_qs;
    QTest::newRow("use the file, the edits dropped") << int(QMessageBox::Discard) << u"theirs"_qs;
    QTest::newRow("cancel") << int(QMessageBox::Cancel) << QString();
}

// A file rewritten on disk since it was read for editing: "Save" asks before writing the edits.
void TestWindow::changedOnDiskAsked()
{
    QFETCH(int, answer);
    QFETCH(QString, title);
    QTemporaryDir dir;
    const QString path = QDir::toNativeSeparators(dir.filePath(u"film.txt"_qs));
    QVERIFY(writeFile(path, "CHAPTER01=00:00:01.000\r\nCHAPTER01NAME=a"));
    Form1 form;
    QStringList shown;
    answerBoxes(form, shown, QMessageBox::StandardButton(answer));
    form.addFiles({{path}});
    form.show();
    QTableView *table = editorOf(form, 0, u"a"_qs);
    QVERIFY(table);
    editCell(*table, 0, 3, u"mine"_qs);
    QVERIFY(writeFile(path, "CHAPTER01=00:00:01.000\r\nCHAPTER01NAME=theirs"));
    QTest::mouseClick(child(form, "Command1"), Qt::LeftButton);
    QTRY_COMPARE(shown.size(), title.isEmpty() ? 1 : 2);
    QVERIFY(shown[0].startsWith(u"“" + path + u"”在读取以供编辑之后已在磁盘上改变。"));
    QCOMPARE(readFile(dir.filePath(u"film_new.txt"_qs)),
             title.isEmpty() ? QByteArray("(missing)")
                             : unicodeFile(QString(u"CHAPTER01=00:00:01.001\r\nCHAPTER01NAME=" + title)));
    QTRY_COMPARE(table->model()->index(0, 3).data().toString(),
                 answer == QMessageBox::Discard ? u"theirs"_qs : u"mine"_qs);
}

// QTEST_MAIN's, ending as the window program does (a conversion thread has run).
int main(int argc, char *argv[])
{
    int status = 0;
    {
        // The window's settings go to a folder of the tests' own, never the user's.
        QStandardPaths::setTestModeEnabled(true);
        QCoreApplication::setOrganizationName(QStringLiteral("tessaline"));
        QApplication app(argc, argv);
        app.setAttribute(Qt::AA_Use96Dpi, true);
        if (!Tessaline::installWindowTranslator())
            return 1;
        TestWindow test;
        QTEST_SET_MAIN_SOURCE_PATH
        status = QTest::qExec(&test, argc, argv);
    }
    Tessaline::endProcess(status);
}

#include "tst_window.moc"
