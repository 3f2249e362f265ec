#include "filelistwidget.h"
#include "form1.h"
#include "module1.h"

#include <QAction>
#include <QApplication>
#include <QDir>
#include <QListWidget>
#include <QMessageBox>
#include <QMimeData>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScrollBar>
#include <QTemporaryDir>
#include <QTest>
#include <QUrl>

#include <algorithm>
#include <memory>

using Tessaline::Form1;
using Tessaline::Module1;

namespace {

const QString kTextOnly = QStringLiteral("<text>"); // a drop that carries text, not files

// What one drag onto the window did.
struct DropOutcome
{
    bool enterAccepted = false;
    bool dropAccepted = false;
};

// Drags onto the window and drops there, as the window system delivers it: enter, then drop.
// Paths are local files, except kTextOnly (plain text) and entries with "://" (web links).
DropOutcome drop(QWidget &target, const QStringList &paths)
{
    auto mimeData = std::make_unique<QMimeData>();
    QList<QUrl> urls;
    for (const QString &path : paths) {
        if (path == kTextOnly)
            mimeData->setText(QStringLiteral("some text"));
        else
            urls.append(path.contains(u"://") ? QUrl(path) : QUrl::fromLocalFile(path));
    }
    if (!urls.isEmpty())
        mimeData->setUrls(urls);

    const QPointF where(target.width() / 2.0, target.height() / 2.0);
    QDragEnterEvent enter(where.toPoint(), Qt::CopyAction, mimeData.get(), Qt::LeftButton, {});
    QCoreApplication::sendEvent(&target, &enter);
    QDropEvent dropEvent(where, Qt::CopyAction, mimeData.get(), Qt::LeftButton, {});
    QCoreApplication::sendEvent(&target, &dropEvent);
    return {enter.isAccepted(), dropEvent.isAccepted()};
}

QStringList entries(const QListWidget *list)
{
    QStringList texts;
    for (int row = 0; row < list->count(); ++row)
        texts.append(list->item(row)->text());
    return texts;
}

QStringList native(QStringList paths)
{
    for (QString &path : paths)
        path = QDir::toNativeSeparators(path);
    return paths;
}

QListWidget *fileList(Form1 &form)
{
    return form.findChild<QListWidget *>(QStringLiteral("lstFiles"));
}

} // namespace

class TestDropIntake : public QObject
{
    Q_OBJECT

private slots:
    void dropAppendsChapterFiles_data();
    void dropAppendsChapterFiles();
    void dropsOverControlsGoToWindow_data();
    void dropsOverControlsGoToWindow();
    void removingEntriesNarrowsScrollRange_data();
    void removingEntriesNarrowsScrollRange();
    void hookPassesEventsOnUnchanged_data();
    void hookPassesEventsOnUnchanged();
    void hookingAgainUnhooksFirst();
    void unhookBeforeHookDoesNothing();
};

void TestDropIntake::dropAppendsChapterFiles_data()
{
    QTest::addColumn<QList<QStringList>>("drops");
    QTest::addColumn<QStringList>("listed");

    QTest::newRow("several files, in the drop's order")
        << QList<QStringList> {{QStringLiteral("/c/3.txt"), QStringLiteral("/a/1.txt"),
                                QStringLiteral("/b/2.txt")}}
        << QStringList {QStringLiteral("/c/3.txt"), QStringLiteral("/a/1.txt"), QStringLiteral("/b/2.txt")};
    QTest::newRow("same file twice, in two drops")
        << QList<QStringList> {{QStringLiteral("/v/film.txt")}, {QStringLiteral("/v/film.txt")}}
        << QStringList {QStringLiteral("/v/film.txt"), QStringLiteral("/v/film.txt")};
    QTest::newRow("text only, then files")
        << QList<QStringList> {{kTextOnly}, {QStringLiteral("/v/film.txt")}}
        << QStringList {QStringLiteral("/v/film.txt")};
}

void TestDropIntake::dropAppendsChapterFiles()
{
    QFETCH(QList<QStringList>, drops);
    QFETCH(QStringList, listed);

    Form1 form;
    auto *list = qobject_cast<Tessaline::FileListWidget *>(fileList(form));
    QVERIFY(list);
    for (const QStringList &paths : std::as_const(drops)) {
        const bool carriesFiles = std::any_of(paths.cbegin(), paths.cend(), [](const QString &path) {
            return path != kTextOnly && !path.contains(u"://");
        });
        const DropOutcome outcome = drop(form, paths);
        QCOMPARE(outcome.enterAccepted, carriesFiles);
        QCOMPARE(outcome.dropAccepted, carriesFiles);
        // The range kept as entries arrive is the one measured over the whole list.
        QCOMPARE(list->horizontalExtent(), Form1::ListTextWidth(list));
    }
    QCOMPARE(entries(list), native(listed));
}

void TestDropIntake::dropsOverControlsGoToWindow_data()
{
    QTest::addColumn<QString>("control");
    QTest::newRow("file list") << QStringLiteral("lstFiles");
    QTest::newRow("names box") << QStringLiteral("Text1");
}

void TestDropIntake::dropsOverControlsGoToWindow()
{
    // The window system hands a drag to the innermost widget under it that takes drops.
    QFETCH(QString, control);
    Form1 form;
    auto *scrollArea = form.findChild<QAbstractScrollArea *>(control);
    QVERIFY(form.acceptDrops());
    QVERIFY(!scrollArea->acceptDrops());
    QVERIFY(!scrollArea->viewport()->acceptDrops());
}

void TestDropIntake::removingEntriesNarrowsScrollRange_data()
{
    QTest::addColumn<int>("key"); // 0: "Remove" in the context menu
    QTest::newRow("Delete") << int(Qt::Key_Delete);
    QTest::newRow("Backspace") << int(Qt::Key_Backspace);
    QTest::newRow("context menu") << 0;
}

void TestDropIntake::removingEntriesNarrowsScrollRange()
{
    QFETCH(int, key);
    Form1 form;
    form.show();
    auto *list = qobject_cast<Tessaline::FileListWidget *>(fileList(form));
    auto *remove = list->findChild<QAction *>(QStringLiteral("removeEntry"));
    auto *clear = list->findChild<QAction *>(QStringLiteral("clearList"));
    QVERIFY(list->actions().contains(remove) && list->actions().contains(clear));
    QVERIFY(!remove->isEnabled());
    QVERIFY(!clear->isEnabled());
    QScrollBar *scrollBar = list->horizontalScrollBar();
    const QString shortPath = QDir::toNativeSeparators(QStringLiteral("/v/a.txt"));
    const QString longPath = QDir::toNativeSeparators(u"/v/" + QString(80, u'w') + u"/film.txt");

    drop(form, {shortPath, longPath});
    const int longWidth = list->fontMetrics().horizontalAdvance(longPath) + 8;
    QCOMPARE(list->horizontalExtent(), longWidth);
    QTRY_COMPARE(scrollBar->maximum(), longWidth - list->viewport()->width());
    QVERIFY(!remove->isEnabled()); // nothing selected yet
    QVERIFY(clear->isEnabled());
    // Scrolled to the end, the longest entry ends inside the view.
    scrollBar->setValue(scrollBar->maximum());
    QVERIFY(list->visualItemRect(list->item(1)).left() + longWidth - 8 <= list->viewport()->width());

    list->setCurrentRow(1);
    QVERIFY(remove->isEnabled());
    if (key)
        QTest::keyClick(list, Qt::Key(key));
    else
        remove->trigger();
    QCOMPARE(entries(list), QStringList {shortPath});
    QCOMPARE(list->horizontalExtent(), Form1::ListTextWidth(list));
    QTRY_COMPARE(scrollBar->maximum(), 0);
    QVERIFY(!scrollBar->isVisible());

    clear->trigger();
    QCOMPARE(list->count(), 0);
    QCOMPARE(list->horizontalExtent(), 0);
    QVERIFY(!clear->isEnabled());
}

void TestDropIntake::hookPassesEventsOnUnchanged_data()
{
    QTest::addColumn<QEvent::Type>("type");
    QTest::addColumn<bool>("accepted");
    QTest::newRow("key press, accepted") << QEvent::KeyPress << true;
    QTest::newRow("key press, ignored") << QEvent::KeyPress << false;
    QTest::newRow("drop") << QEvent::Drop << false;
}

void TestDropIntake::hookPassesEventsOnUnchanged()
{
    QFETCH(QEvent::Type, type);
    QFETCH(bool, accepted);

    Form1 form;
    auto *hook = form.findChild<Module1 *>();
    QCOMPARE(hook->hookedWindow(), &form);

    QMimeData mimeData;
    mimeData.setUrls({QUrl::fromLocalFile(QStringLiteral("/v/film.txt"))});
    std::unique_ptr<QEvent> event;
    if (type == QEvent::KeyPress)
        event = std::make_unique<QKeyEvent>(type, Qt::Key_A, Qt::NoModifier, QStringLiteral("a"));
    else
        event = std::make_unique<QDropEvent>(QPointF(1, 1), Qt::CopyAction, &mimeData, Qt::LeftButton,
                                             Qt::NoModifier);
    event->setAccepted(accepted);

    QVERIFY(!hook->SubclassProc(&form, event.get()));
    QCOMPARE(event->isAccepted(), accepted);
    QCOMPARE(fileList(form)->count(), type == QEvent::Drop ? 1 : 0);
}

void TestDropIntake::hookingAgainUnhooksFirst()
{
    Form1 first;
    Form1 second;
    second.findChild<Module1 *>()->UnhookWindow();
    auto *hook = first.findChild<Module1 *>();

    hook->HookWindow(&second);
    QCOMPARE(hook->hookedWindow(), &second);
    drop(first, {QStringLiteral("/v/first.txt")});
    drop(second, {QStringLiteral("/v/second.txt")});
    QCOMPARE(fileList(first)->count(), 0);
    QCOMPARE(entries(fileList(second)), native({QStringLiteral("/v/second.txt")}));

    hook->HookWindow(&second); // the same window again: still one hook
    drop(second, {QStringLiteral("/v/again.txt")});
    QCOMPARE(fileList(second)->count(), 2);
}

void TestDropIntake::unhookBeforeHookDoesNothing()
{
    Module1 hook;
    hook.UnhookWindow();
    QCOMPARE(hook.hookedWindow(), nullptr);

    Form1 form;
    form.findChild<Module1 *>()->UnhookWindow();
    drop(form, {QStringLiteral("/v/unhooked.txt")});
    QCOMPARE(fileList(form)->count(), 0); // without its hook the window takes no files

    hook.HookWindow(&form);
    drop(form, {QStringLiteral("/v/hooked.txt")});
    QCOMPARE(entries(fileList(form)), native({QStringLiteral("/v/hooked.txt")}));
    hook.UnhookWindow();
    hook.UnhookWindow();
    drop(form, {QStringLiteral("/v/unhooked.txt")});
    QCOMPARE(fileList(form)->count(), 1);
}

QTEST_MAIN(TestDropIntake)
#include "tst_dropintake.moc"
