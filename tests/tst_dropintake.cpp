#include "filelistwidget.h"
#include "form1.h"
#include "module1.h"

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
    void scrollRangeCoversWidestEntry();
    void droppedFolderFailsWithReason();
    void hookPassesEventsOnUnchanged_data();
    void hookPassesEventsOnUnchanged();
    void hookingAgainUnhooksFirst();
    void unhookBeforeHookDoesNothing();
};

void TestDropIntake::dropAppendsChapterFiles_data()
{
    QTest::addColumn<QList<QStringList>>("drops");
    QTest::addColumn<QStringList>("listed");

    const QString longPath = u"/chapters/" + QString(120, u'a') + u'/' + QString(150, u'b') + u".txt";
    QTest::newRow("several files, in the drop's order")
        << QList<QStringList> {{QStringLiteral("/c/3.txt"), QStringLiteral("/a/1.txt"),
                                QStringLiteral("/b/2.txt")}}
        << QStringList {QStringLiteral("/c/3.txt"), QStringLiteral("/a/1.txt"), QStringLiteral("/b/2.txt")};
    QTest::newRow("only .txt, exact case")
        << QList<QStringList> {{QStringLiteral("/v/film.txt"), QStringLiteral("/v/notes.doc"),
                                QStringLiteral("/v/FILE.TXT"), QStringLiteral("/v/film.Txt"),
                                QStringLiteral("/v/film.txt.bak")}}
        << QStringList {QStringLiteral("/v/film.txt")};
    QTest::newRow("root refused") << QList<QStringList> {{QStringLiteral("/"), QStringLiteral("/v/film.txt")}}
                                  << QStringList {QStringLiteral("/v/film.txt")};
    QTest::newRow("same file twice, in two drops")
        << QList<QStringList> {{QStringLiteral("/v/film.txt")}, {QStringLiteral("/v/film.txt")}}
        << QStringList {QStringLiteral("/v/film.txt"), QStringLiteral("/v/film.txt")};
    QTest::newRow("Chinese and other non-ASCII names")
        << QList<QStringList> {{QStringLiteral("/视频/章节 第一集.txt"), QStringLiteral("/Vidéos/Ärger.txt")}}
        << QStringList {QStringLiteral("/视频/章节 第一集.txt"), QStringLiteral("/Vidéos/Ärger.txt")};
    QTest::newRow("longer than 260 characters") << QList<QStringList> {{longPath}} << QStringList {longPath};
    QTest::newRow("text only, then files")
        << QList<QStringList> {{kTextOnly}, {QStringLiteral("/v/film.txt")}}
        << QStringList {QStringLiteral("/v/film.txt")};
    QTest::newRow("web link beside a file")
        << QList<QStringList> {{QStringLiteral("https://example.org/film.txt"),
                                QStringLiteral("/v/local.txt")}}
        << QStringList {QStringLiteral("/v/local.txt")};
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

void TestDropIntake::scrollRangeCoversWidestEntry()
{
    Form1 form;
    form.show();
    QListWidget *list = fileList(form);
    QScrollBar *scrollBar = list->horizontalScrollBar();
    const QFontMetrics metrics = list->fontMetrics();
    QCOMPARE(Form1::ListTextWidth(list), 0);

    const QString shortPath = QDir::toNativeSeparators(QStringLiteral("/v/a.txt"));
    const QString longPath = QDir::toNativeSeparators(u"/v/" + QString(80, u'w') + u"/film.txt");
    const QString middlePath = QDir::toNativeSeparators(u"/v/" + QString(40, u'w') + u"/film.txt");
    int widest = 0;
    for (const QString &path : {shortPath, longPath, middlePath}) {
        drop(form, {path});
        widest = std::max(widest, metrics.horizontalAdvance(path) + 8);
        QCOMPARE(Form1::ListTextWidth(list), widest);
        // The view lays itself out once control returns to the event loop.
        const int hidden = std::max(0, widest - list->viewport()->width());
        QTRY_COMPARE(scrollBar->maximum(), hidden);
        QTRY_COMPARE(scrollBar->isVisible(), hidden > 0);
    }
    QVERIFY(metrics.horizontalAdvance(shortPath) + 8 < list->viewport()->width()); // the rows test both cases
    QVERIFY(scrollBar->isVisible());
    QCOMPARE(scrollBar->pageStep(), list->viewport()->width());

    // Scrolled to the end, the longest entry ends inside the view.
    scrollBar->setValue(scrollBar->maximum());
    const QRect longRect = list->visualItemRect(list->item(1));
    QVERIFY(longRect.left() + metrics.horizontalAdvance(longPath) <= list->viewport()->width());
}

void TestDropIntake::droppedFolderFailsWithReason()
{
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    QVERIFY(QDir(dir.path()).mkdir(QStringLiteral("season.txt")));
    const QString folder = dir.filePath(QStringLiteral("season.txt"));

    Form1 form;
    QString shown;
    QMessageBox::Icon icon = QMessageBox::NoIcon;
    form.setMessageBoxPresenter([&](QMessageBox &box) {
        shown = box.text();
        icon = box.icon();
    });
    drop(form, {folder});
    QCOMPARE(entries(fileList(form)), QStringList {QDir::toNativeSeparators(folder)});

    QTest::mouseClick(form.findChild<QPushButton *>(QStringLiteral("Command1")), Qt::LeftButton);
    QCOMPARE(icon, QMessageBox::Warning);
    QVERIFY2(shown.startsWith(QStringLiteral("已成功转换0个文件")), qPrintable(shown));
    QVERIFY2(shown.contains(QDir::toNativeSeparators(folder) + u"："), qPrintable(shown));
}

void TestDropIntake::hookPassesEventsOnUnchanged_data()
{
    QTest::addColumn<QEvent::Type>("type");
    QTest::addColumn<bool>("accepted");
    QTest::newRow("key press, accepted") << QEvent::KeyPress << true;
    QTest::newRow("key press, ignored") << QEvent::KeyPress << false;
    QTest::newRow("mouse press") << QEvent::MouseButtonPress << true;
    QTest::newRow("drag enter") << QEvent::DragEnter << false;
    QTest::newRow("drop") << QEvent::Drop << false;
    QTest::newRow("close") << QEvent::Close << true;
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
    switch (type) {
    case QEvent::KeyPress:
        event = std::make_unique<QKeyEvent>(type, Qt::Key_A, Qt::NoModifier, QStringLiteral("a"));
        break;
    case QEvent::MouseButtonPress:
        event = std::make_unique<QMouseEvent>(type, QPointF(1, 1), QPointF(1, 1), Qt::LeftButton,
                                              Qt::LeftButton, Qt::NoModifier);
        break;
    case QEvent::DragEnter:
        event = std::make_unique<QDragEnterEvent>(QPoint(1, 1), Qt::CopyAction, &mimeData, Qt::LeftButton,
                                                  Qt::NoModifier);
        break;
    case QEvent::Drop:
        event = std::make_unique<QDropEvent>(QPointF(1, 1), Qt::CopyAction, &mimeData, Qt::LeftButton,
                                             Qt::NoModifier);
        break;
    default:
        event = std::make_unique<QCloseEvent>();
        break;
    }
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
