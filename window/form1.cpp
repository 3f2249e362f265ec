#include "form1.h"

#include "completionmessage.h"
#include "conversion.h"
#include "droppedfiles.h"
#include "editedfile.h"
#include "filelistwidget.h"
#include "module1.h"
#include "moresection.h"
#include "namesboxfont.h"
#include "previewmodel.h"
#include "previewpane.h"
#include "runprogress.h"

#include <QAction>
#include <QButtonGroup>
#include <QCheckBox>
#include <QCloseEvent>
#include <QContextMenuEvent>
#include <QCoreApplication>
#include <QDropEvent>
#include <QFileDialog>
#include <QFileInfo>
#include <QFontMetrics>
#include <QKeyEvent>
#include <QListWidget>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QPointer>
#include <QProgressBar>
#include <QProgressDialog>
#include <QPushButton>
#include <QRadioButton>
#include <QScreen>
#include <QSettings>
#include <QThread>
#include <QTimer>
#include <QToolButton>
#include <QWindow>

#include <algorithm>
#include <atomic>
#include <numeric>

namespace Tessaline {

namespace {

// The window was laid out in twips; at 15 twips to the pixel (96 dpi) these are its client area
// and the controls' places in device-independent pixels.
constexpr QSize kClientSize(282, 226);
constexpr QRect kListRect(8, 8, 265, 88);
constexpr QRect kText1Rect(8, 104, 145, 113);
constexpr QRect kCheck1Rect(160, 104, 113, 17);
constexpr QRect kCheck2Rect(160, 128, 113, 17);
constexpr QRect kOption1AnsiRect(160, 152, 81, 12);
constexpr QRect kOption1UnicodeRect(160, 168, 81, 17);
constexpr QRect kCommand1Rect(160, 192, 113, 25);

// Where the open window's size and the preview's columns are kept between runs (QSettings: on
// Linux ~/.config/tessaline/tessaline.conf).
const QString kOpenSizeKey = QStringLiteral("window/openSize");
const QString kPreviewColumnsKey = QStringLiteral("window/previewColumns");

// The names the readable formats usually have, for the file dialog; "All files" shows the rest,
// which are taken when a format's probe claims them.
constexpr auto kChapterFileFilter
    = "Chapter files (*.txt *.xml *.ffmeta *.ffmetadata *.cue *.vtt *.mkv *.mka *.mk3d *.webm *.mp4 *.m4a *.m4b "
      "*.m4v *.mov *.mpls *.IFO *.ifo);;All files (*)";

// What "Save" says at once with no file listed: that nothing was converted, and how files come in.
CompletionMessage emptyListMessage()
{
    return {QStringLiteral("没有文件"),
            QStringLiteral("文件列表是空的，未转换任何文件。\n把章节文件拖到窗口上，或按Ctrl+O添加。"), false};
}

constexpr int kProgressDelayMs = 500; // a run shorter than this shows no progress dialog
constexpr int kProgressPollMs = 100; // between updates of the progress dialog
constexpr int kProgressNameWidth = 320; // pixels of the current file's name in the dialog

// Places a control of the right-hand column at its designed place, taller when the style asks
// for more height than the design had, up to the top of the control below it (belowTop, in
// pixels), and at least as wide as its caption needs.
void placeInColumn(QWidget *control, QRect designed, int belowTop)
{
    const QSize hint = control->sizeHint();
    designed.setHeight(std::clamp(hint.height(), designed.height(), belowTop - designed.top()));
    designed.setWidth(std::max(designed.width(), hint.width()));
    control->setGeometry(designed);
}

// The names box's lines joined by CR LF, every character kept: the document's raw text ends a
// paragraph with U+2029 and a line within it (Shift+Enter) with U+2028. (Its plain text would
// turn a no-break space into a space.)
QString withCrLfLines(QString rawText)
{
    return rawText.replace(QChar::ParagraphSeparator, QStringLiteral("\r\n"))
        .replace(QChar::LineSeparator, QStringLiteral("\r\n"));
}

} // namespace

// A conversion going on: the worker thread, its stop flag, progress and report, and the progress
// dialog once it is shown. The thread is waited for before its run is freed.
struct Form1::Run
{
    std::atomic<bool> stop = false;
    RunProgress progress; // written by the thread, read by the window's poll
    ConvertReport report; // written by the thread, read once it has finished
    std::unique_ptr<QThread> thread;
    qsizetype total = 0; // files
    std::unique_ptr<QProgressDialog> dialog;
    QProgressBar *bar = nullptr; // the dialog's
    QPointer<QWidget> focus; // the control that had the focus when the run began
    QStringList files; // converted, in order
    QStringList edited; // of those, the files whose edits are written
    AfterRun after;
};

Form1::Form1(QWidget *parent)
    : QWidget(parent), m_module1(new Module1(this)), m_edits(new EditedFiles(this)),
      m_lstFiles(new FileListWidget(this)), m_progressDelay(new QTimer(this)), m_progressPoll(new QTimer(this)),
      m_check1(new QCheckBox(QStringLiteral("30FPS->29.97FPS"), this)),
      m_check2(new QCheckBox(QStringLiteral("ChapterName"), this)),
      m_command1(new QPushButton(QStringLiteral("Save"), this)),
      m_option1Ansi(new QRadioButton(QStringLiteral("ANSI"), this)),
      m_option1Unicode(new QRadioButton(QStringLiteral("Unicode"), this)), m_text1(new QPlainTextEdit(this)),
      m_more(new QToolButton(this)), m_addFiles(new QAction(QStringLiteral("Add files…"), this)),
      m_presentMessageBox([](QMessageBox &box) { box.exec(); }),
      m_conversion([](const QStringList &files, const ConvertOptions &options, const RunControl &control) {
          return ConvertAll(files, options, control);
      }),
      m_chooseFiles([](QWidget *parent, const QString &folder) {
          // The patterns are many: the list of types names the formats only.
          return QFileDialog::getOpenFileNames(parent, QStringLiteral("Add files"), folder,
                                               QString::fromLatin1(kChapterFileFilter), nullptr,
                                               QFileDialog::HideNameFilterDetails);
      })
{
    setObjectName(QStringLiteral("Form1"));
    setWindowTitle(QStringLiteral("Tessaline"));

    m_lstFiles->setObjectName(QStringLiteral("lstFiles"));
    m_lstFiles->setSelectionMode(QAbstractItemView::SingleSelection);
    m_lstFiles->setSortingEnabled(false);
    // Drops over the list or the names box go to the window (a text box would insert the
    // dropped names as text).
    m_lstFiles->setAcceptDrops(false);

    m_check1->setObjectName(QStringLiteral("Check1"));
    m_check2->setObjectName(QStringLiteral("Check2"));

    m_option1Ansi->setObjectName(QStringLiteral("Option1_0"));
    m_option1Unicode->setObjectName(QStringLiteral("Option1_1"));
    auto *option1 = new QButtonGroup(this);
    option1->setObjectName(QStringLiteral("Option1"));
    option1->addButton(m_option1Ansi, 0);
    option1->addButton(m_option1Unicode, 1);
    option1->setExclusive(true);

    m_command1->setObjectName(QStringLiteral("Command1"));

    m_text1->setObjectName(QStringLiteral("Text1"));
    m_text1->setLineWrapMode(QPlainTextEdit::WidgetWidth);
    m_text1->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    m_text1->setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    m_text1->setTabChangesFocus(true);
    m_text1->setAcceptDrops(false);

    // Tab follows the layout: the list across the top, the names box on the left, then the right
    // column from top to bottom; the section, built later, follows "Save".
    setTabOrder(m_lstFiles, m_text1);
    setTabOrder(m_text1, m_check1);
    setTabOrder(m_check1, m_check2);
    setTabOrder(m_check2, m_option1Ansi);
    setTabOrder(m_option1Ansi, m_option1Unicode);
    setTabOrder(m_option1Unicode, m_more);
    setTabOrder(m_more, m_command1);

    m_more->setObjectName(QStringLiteral("more"));
    m_more->setCheckable(true);
    m_more->setArrowType(Qt::RightArrow);
    m_more->setToolTip(QStringLiteral("More"));
    describeControls();

    // The closed window has no room for another control: "Add files…" is a shortcut and the
    // first entry of the list's context menu, and a button of the section.
    m_addFiles->setObjectName(QStringLiteral("addFiles"));
    m_addFiles->setShortcut(QKeySequence::Open);
    addAction(m_addFiles);
    m_lstFiles->insertAction(m_lstFiles->actions().value(0), m_addFiles);
    connect(m_addFiles, &QAction::triggered, this, &Form1::chooseFiles);
    // Shift+F10 opens the focused control's context menu, as the Menu key does.
    auto *contextMenu = new QAction(this);
    contextMenu->setObjectName(QStringLiteral("contextMenuKey"));
    contextMenu->setShortcut(QKeySequence(Qt::SHIFT | Qt::Key_F10));
    addAction(contextMenu);
    connect(contextMenu, &QAction::triggered, this, &Form1::openContextMenu);
    connect(m_more, &QToolButton::toggled, this, &Form1::showMoreSection);
    // Each of these changes what the preview shows; it is computed only while the section is open.
    connect(m_lstFiles, &QListWidget::itemSelectionChanged, this, &Form1::updatePreview);
    connect(m_check1, &QCheckBox::toggled, this, &Form1::updatePreview);
    connect(m_check2, &QCheckBox::toggled, this, &Form1::updatePreview);
    connect(m_option1Ansi, &QRadioButton::toggled, this, &Form1::updatePreview);
    connect(m_text1, &QPlainTextEdit::textChanged, this, &Form1::updatePreview);
    connect(m_edits, &EditedFiles::modifiedChanged, m_lstFiles, &FileListWidget::markModified);
    m_lstFiles->setRemovalCheck([this](const QList<int> &rows) { return mayRemove(rows); });

    // The option buttons are one tab stop, entered at the selected one; the arrow keys move
    // within the group.
    const auto updateOptionTabStops = [this] {
        for (QRadioButton *option : {m_option1Ansi, m_option1Unicode})
            option->setFocusPolicy(option->isChecked() ? Qt::StrongFocus : Qt::ClickFocus);
    };
    connect(m_option1Ansi, &QRadioButton::toggled, this, updateOptionTabStops);
    connect(m_check2, &QCheckBox::toggled, this, &Form1::enableNamesBox);
    connect(m_command1, &QPushButton::clicked, this, &Form1::save);

    m_progressDelay->setSingleShot(true);
    m_progressDelay->setInterval(kProgressDelayMs);
    connect(m_progressDelay, &QTimer::timeout, this, &Form1::showProgressDialog);
    m_progressPoll->setInterval(kProgressPollMs);
    connect(m_progressPoll, &QTimer::timeout, this, &Form1::updateProgress);

    placeControls(0);
    // Nothing in the closed window follows a change of its size, so it has one size only.
    setFixedSize(m_closedSize);
    setInitialState();
    updateOptionTabStops();

    m_module1->setObjectName(QStringLiteral("Module1"));
    m_module1->HookWindow(this);
    setAcceptDrops(true);
}

Form1::~Form1()
{
    // The open window's size and the preview's columns, as the user left them, for the next run.
    if (moreSectionOpen())
        saveOpenLayout();
    m_module1->UnhookWindow();
    // A run ends after the file it is converting, so that no output is left half-written.
    if (m_run) {
        m_run->stop = true;
        m_run->thread->wait();
    }
}

void Form1::MessageProc(QEvent *event)
{
    if (event->type() != QEvent::Drop || m_run)
        return;
    if (const QMimeData *mimeData = static_cast<QDropEvent *>(event)->mimeData())
        addFiles(droppedPaths(*mimeData));
}

void Form1::addFiles(const QList<DroppedPath> &files)
{
    if (m_run)
        return;
    for (const DroppedPath &file : files) {
        if (file.undecodable ? isChapterListPath(file.path) : isChapterSource(file.path)) {
            m_lstFiles->appendEntry(file.path, file.undecodable);
            // A file listed again shares the edits of its other entry.
            if (const EditedFile *edited = m_edits->find(file.path); edited && edited->isModified())
                m_lstFiles->markModified(file.path, true);
        }
    }
}

void Form1::chooseFiles()
{
    QList<DroppedPath> chosen;
    // The dialog opens where the last listed file is, as files tend to come from one folder.
    const QString folder
        = m_lstFiles->count() ? QFileInfo(m_lstFiles->item(m_lstFiles->count() - 1)->text()).path() : QString();
    for (const QString &path : m_chooseFiles(this, folder))
        chosen.append({QDir::toNativeSeparators(path)});
    addFiles(chosen);
}

int Form1::ListTextWidth(const QListWidget *lstThis)
{
    const QFontMetrics metrics = lstThis->fontMetrics();
    int widest = 0;
    for (int row = 0; row < lstThis->count(); ++row)
        widest = std::max(widest, listEntryWidth(metrics, lstThis->item(row)->text()));
    return widest;
}

// The window takes drags that carry local files; the hook has already handed a drop to
// MessageProc. A drag's files are looked at once, on entering, not on every move.
void Form1::dragEnterEvent(QDragEnterEvent *event)
{
    m_dragHasLocalPaths = !m_run && event->mimeData() && hasLocalPaths(*event->mimeData());
    if (m_dragHasLocalPaths)
        event->acceptProposedAction();
}

void Form1::dragMoveEvent(QDragMoveEvent *event)
{
    if (m_dragHasLocalPaths)
        event->acceptProposedAction();
}

void Form1::dropEvent(QDropEvent *event)
{
    if (!m_run && event->mimeData() && hasLocalPaths(*event->mimeData()))
        event->acceptProposedAction();
}

// A push or tool button with the focus ("Add files…", "Choose…", the arrow) is pressed itself,
// as Enter presses the focused button in a dialog.
void Form1::keyPressEvent(QKeyEvent *event)
{
    if (event->key() != Qt::Key_Return && event->key() != Qt::Key_Enter) {
        QWidget::keyPressEvent(event);
        return;
    }
    QWidget *focus = focusWidget();
    if (auto *button = qobject_cast<QAbstractButton *>(focus);
        button && (qobject_cast<QPushButton *>(focus) || qobject_cast<QToolButton *>(focus)))
        button->click();
    else if (m_command1->isEnabled())
        m_command1->click();
}

void Form1::paintEvent(QPaintEvent *event)
{
    QWidget::paintEvent(event);
    // Once the window has been drawn: the icon theme search, which costs more than building the
    // whole window, the faces for Chinese and Japanese text (the messages, the preview's words and
    // titles, whose rows it sizes by them), which fontconfig finds among the fallbacks in about
    // 5 to 10 ms each, and the bold face the preview's header sizes its captions in; nothing in
    // the first picture needs them.
    if (!std::exchange(m_painted, true))
        QTimer::singleShot(0, this, [this] {
            setWindowIcon(QIcon::fromTheme(QStringLiteral("tessaline")));
            QFontMetrics(font()).horizontalAdvance(QStringLiteral("已成功转换あ"));
            QFont bold = font();
            bold.setBold(true);
            QFontMetrics(bold).horizontalAdvance(QStringLiteral("Title"));
        });
}

// The list taller by listGrowth pixels (while the section is open, the window's height past the
// closed one's), the controls below it moved down as far.
void Form1::placeControls(int listGrowth)
{
    const QPoint down(0, listGrowth);
    m_text1->setGeometry(kText1Rect.translated(down));
    placeInColumn(m_check1, kCheck1Rect.translated(down), kCheck2Rect.top() + listGrowth);
    placeInColumn(m_check2, kCheck2Rect.translated(down), kOption1AnsiRect.top() + listGrowth);
    placeInColumn(m_option1Ansi, kOption1AnsiRect.translated(down), kOption1UnicodeRect.top() + listGrowth);
    placeInColumn(m_option1Unicode, kOption1UnicodeRect.translated(down), kCommand1Rect.top() + listGrowth);
    placeInColumn(m_command1, kCommand1Rect.translated(down), kClientSize.height() + listGrowth);

    // A caption wider than the design (fonts differ from the designer's) widens the column to
    // the right; the file list and the window widen with it, keeping the right margin.
    int columnRight = kCheck1Rect.right();
    for (const QWidget *control :
         std::initializer_list<const QWidget *> {m_check1, m_check2, m_option1Ansi, m_option1Unicode, m_command1})
        columnRight = std::max(columnRight, control->geometry().right());
    // The arrow that opens the section sits right of the option buttons, between their rows.
    const int optionsRight = std::max(m_option1Ansi->geometry().right(), m_option1Unicode->geometry().right());
    const QSize moreSize = m_more->sizeHint();
    columnRight = std::max(columnRight, optionsRight + 4 + moreSize.width());
    m_more->setGeometry(
        QRect(QPoint(columnRight - moreSize.width() + 1,
                     (kOption1AnsiRect.top() + kOption1UnicodeRect.bottom() - moreSize.height()) / 2 + listGrowth),
              moreSize));
    for (QWidget *control : std::initializer_list<QWidget *> {m_check1, m_check2, m_command1})
        control->resize(columnRight - control->x() + 1, control->height());
    const int grow = columnRight - kCheck1Rect.right();
    m_lstFiles->setGeometry(kListRect.adjusted(0, 0, grow, listGrowth));
    m_closedSize = kClientSize + QSize(grow, 0);
}

// What a screen reader says of each control: its name, and what a terse caption leaves unsaid.
void Form1::describeControls()
{
    m_lstFiles->setAccessibleName(QStringLiteral("Chapter files"));
    m_lstFiles->setAccessibleDescription(
        QStringLiteral("The files Save converts. Ctrl+O adds files, Delete removes the selected one"));
    m_text1->setAccessibleName(QStringLiteral("Chapter names"));
    m_text1->setAccessibleDescription(QStringLiteral("One title a line, used while ChapterName is ticked"));
    m_check1->setAccessibleDescription(
        QStringLiteral("Retime the chapters, from 30 to 29.97 frames per second or between the rates under More"));
    m_check2->setAccessibleDescription(QStringLiteral("Take the chapters' titles from the names box"));
    m_option1Ansi->setAccessibleDescription(QStringLiteral("Write text in the system's ANSI code page"));
    m_option1Unicode->setAccessibleDescription(QStringLiteral("Write text as UTF-16"));
    m_command1->setAccessibleDescription(QStringLiteral("Convert every listed file"));
    m_more->setAccessibleName(QStringLiteral("More"));
    m_more->setAccessibleDescription(QStringLiteral("Show the rates, offset, format, output folder and preview"));
}

void Form1::setInitialState()
{
    m_lstFiles->clearEntries();
    enableNamesBox(false);
    m_text1->clear();
    m_check2->setChecked(false);
    m_check1->setChecked(true);
    m_option1Unicode->setChecked(true);
}

ConvertOptions Form1::options() const
{
    ConvertOptions options;
    options.ShiftFrameRate = m_check1->isChecked();
    options.UseNameBox = m_check2->isChecked();
    options.NameBoxText = withCrLfLines(m_text1->document()->toRawText());
    options.OutputEncoding = m_option1Ansi->isChecked() ? OutputEncoding::Ansi : OutputEncoding::Unicode;
    // retimeOtherFormats stays set: the ticked box retimes whatever is listed, as it always has
    // in the window, and the preview shows each time as read and as it will be written.
    if (moreSectionOpen())
        m_moreSection->applyTo(options);
    return options;
}

QStringList Form1::files() const
{
    QStringList files;
    files.reserve(m_lstFiles->count());
    for (int row = 0; row < m_lstFiles->count(); ++row)
        files.append(m_lstFiles->item(row)->text());
    return files;
}

void Form1::setMessageBoxPresenter(MessageBoxPresenter presenter)
{
    m_presentMessageBox = std::move(presenter);
}

void Form1::setConversion(Conversion conversion)
{
    m_conversion = std::move(conversion);
}

void Form1::setFileChooser(FileChooser chooser)
{
    m_chooseFiles = std::move(chooser);
}

// An enabled, empty names box says what it is for. Its font is looked up when it is first
// enabled: finding a Song face among the substitutes takes a noticeable part of the start, and an
// empty, disabled box draws no text.
void Form1::enableNamesBox(bool enabled)
{
    if (enabled)
        m_text1->setFont(namesBoxFont());
    m_text1->setEnabled(enabled);
    m_text1->setPlaceholderText(enabled ? QStringLiteral("One title a line") : QString());
}

// While a run goes on, the list and the options stay as the run took them.
void Form1::setRunning(bool running)
{
    for (QWidget *control : std::initializer_list<QWidget *> {m_lstFiles, m_check1, m_check2, m_command1, m_more})
        control->setEnabled(!running);
    m_addFiles->setEnabled(!running);
    if (m_moreSection)
        m_moreSection->setEnabled(!running);
    enableNamesBox(!running && m_check2->isChecked());
    updateEncodingChoice();
}

void Form1::save()
{
    if (m_run)
        return; // one run at a time
    if (m_lstFiles->count() == 0) {
        showMessage(emptyListMessage());
        return;
    }
    QList<int> rows(m_lstFiles->count());
    std::iota(rows.begin(), rows.end(), 0);
    startRun(rows, {});
}

// Converts the files of the list's rows, the edited ones from their edits; after follows once the
// run has ended and its message has been shown. Nothing is converted while a field or an edited
// time is invalid, or when the user cancels the question about a file changed on disk.
void Form1::startRun(const QList<int> &rows, AfterRun after)
{
    if (moreSectionOpen() && !m_moreSection->problems().isEmpty()) {
        showMessage(refusalMessage(m_moreSection->problems()));
        return;
    }
    // The files and options are taken once, when "Save" is pressed.
    const ConvertOptions options = this->options();
    QStringList files;
    for (const int row : rows)
        files.append(m_lstFiles->item(row)->text());
    if (const QStringList problems = editProblems(files, options); !problems.isEmpty()) {
        showMessage(refusalMessage(problems));
        return;
    }
    if (!settleChangedFiles(files))
        return;
    m_run = std::make_unique<Run>();
    m_run->focus = focusWidget();
    m_run->total = files.size();
    m_run->files = files;
    m_run->after = std::move(after);
    RunControl control;
    control.stop = &m_run->stop;
    control.progress = [progress = &m_run->progress](qsizetype done, qsizetype total, const QString &current) {
        progress->report(done, total, current);
    };
    const QSet<qsizetype> undecodable = m_lstFiles->undecodableRows();
    for (qsizetype i = 0; i < rows.size(); ++i) {
        if (undecodable.contains(rows[i]))
            control.undecodableNames.insert(i);
        else if (const EditedFile *file = m_edits->find(files[i]); file && file->isEdited()) {
            control.edited.insert(i, {file->chapters(), file->simpleText()});
            m_run->edited.append(files[i]);
        }
    }
    m_run->thread.reset(QThread::create([run = m_run.get(), convert = m_conversion, files, options, control] {
        run->report = convert(files, options, control);
    }));
    connect(m_run->thread.get(), &QThread::finished, this, &Form1::finishRun);
    setRunning(true);
    m_progressDelay->start();
    m_run->thread->start();
}

// Each edited file's first chapter whose time cannot be written, as the refusal lists it.
QStringList Form1::editProblems(const QStringList &files, const ConvertOptions &options) const
{
    Expected<RunContext> run = prepareRun(options);
    if (!run)
        return {}; // the run fails as a whole, and says why
    QStringList problems;
    QStringList seen;
    for (const QString &path : files) {
        const EditedFile *file = m_edits->find(path);
        if (!file || !file->isEdited() || seen.contains(path))
            continue;
        seen.append(path);
        const QList<Failure> failures = problemsOf(previewEditedChapters(file->chapters(), file->simpleText(), *run));
        if (!failures.isEmpty())
            problems.append(QDir::toNativeSeparators(path) + QStringLiteral("：第%1章：").arg(failures.first().chapter)
                            + timeProblemText(failures.first(), options.format));
    }
    return problems;
}

// For each edited file whose content changed on disk since it was read for editing: write the
// edits all the same (the change is then accepted), or drop them and convert the file as it is,
// or cancel "Save" (false).
bool Form1::settleChangedFiles(const QStringList &files)
{
    for (const QString &path : files) {
        EditedFile *file = m_edits->find(path);
        if (!file || !file->isEdited())
            continue;
        Expected<FileStamp> now = stampOf(path);
        if (!now || !contentChanged(file->stamp(), *now))
            continue; // a file that cannot be read fails in the run, with its reason
        QMessageBox box(QMessageBox::Warning, QStringLiteral("文件已改变"),
                        QStringLiteral("“%1”在读取以供编辑之后已在磁盘上改变。\n"
                                       "按你的编辑保存（不理会文件的改变），还是放弃编辑、按文件现在的内容转换？")
                            .arg(QDir::toNativeSeparators(path)),
                        QMessageBox::Save | QMessageBox::Discard | QMessageBox::Cancel, this);
        box.setObjectName(QStringLiteral("changedOnDisk"));
        box.button(QMessageBox::Save)->setText(QStringLiteral("Use my edits"));
        box.button(QMessageBox::Discard)->setText(QStringLiteral("Use the file"));
        box.setDefaultButton(QMessageBox::Cancel);
        switch (ask(box)) {
        case QMessageBox::Save:
            file->setStamp(std::move(*now));
            break;
        case QMessageBox::Discard:
            m_edits->discard(path);
            updatePreview();
            break;
        default:
            return false;
        }
    }
    return true;
}

// Whether to save the edits of the files first: Save, Discard or Cancel (also for Escape).
int Form1::askToSave(const QStringList &unsaved, const QString &question)
{
    QString text = QStringLiteral("以下文件有未保存的编辑：");
    for (const QString &path : unsaved.first(std::min<qsizetype>(unsaved.size(), 10)))
        text += u'\n' + QDir::toNativeSeparators(path);
    if (unsaved.size() > 10)
        text += QStringLiteral("\n……另有%1个文件").arg(unsaved.size() - 10);
    QMessageBox box(QMessageBox::Warning, QStringLiteral("未保存的编辑"), text + u'\n' + question,
                    QMessageBox::Save | QMessageBox::Discard | QMessageBox::Cancel, this);
    box.setObjectName(QStringLiteral("unsavedEdits"));
    box.setDefaultButton(QMessageBox::Save);
    return ask(box);
}

int Form1::ask(QMessageBox &box)
{
    m_presentMessageBox(box);
    const QMessageBox::StandardButton answer = box.standardButton(box.clickedButton());
    return answer == QMessageBox::NoButton ? QMessageBox::Cancel : answer;
}

// Entries whose file leaves the list with edits not yet saved: saved first (the entries go once
// they are), discarded, or kept. Edits of a file no longer listed are forgotten.
bool Form1::mayRemove(const QList<int> &rows)
{
    QStringList kept;
    QStringList leaving;
    for (int row = 0; row < m_lstFiles->count(); ++row)
        (rows.contains(row) ? leaving : kept).append(m_lstFiles->item(row)->text());
    leaving.removeDuplicates();
    leaving.removeIf([&kept](const QString &path) { return kept.contains(path); });
    const QStringList unsaved = m_edits->unsaved(leaving);
    if (!unsaved.isEmpty()) {
        switch (askToSave(unsaved, QStringLiteral("移除之前要保存这些编辑吗？"))) {
        case QMessageBox::Save:
            startRun(rowsOf(unsaved), [this, rows, unsaved](const QStringList &converted) {
                if (std::all_of(unsaved.cbegin(), unsaved.cend(),
                                [&converted](const QString &path) { return converted.contains(path); })
                    && mayRemove(rows))
                    m_lstFiles->removeRows(rows);
            });
            return false;
        case QMessageBox::Discard:
            break;
        default:
            return false;
        }
    }
    for (const QString &path : std::as_const(leaving))
        m_edits->discard(path);
    return true;
}

// The first row of each path.
QList<int> Form1::rowsOf(const QStringList &paths) const
{
    QList<int> rows;
    for (const QString &path : paths) {
        for (int row = 0; row < m_lstFiles->count(); ++row) {
            if (m_lstFiles->item(row)->text() == path) {
                rows.append(row);
                break;
            }
        }
    }
    std::sort(rows.begin(), rows.end());
    return rows;
}

void Form1::closeEvent(QCloseEvent *event)
{
    const QStringList unsaved = m_edits->unsaved(files());
    if (unsaved.isEmpty()) {
        QWidget::closeEvent(event);
        return;
    }
    event->ignore();
    switch (askToSave(unsaved, QStringLiteral("关闭之前要保存这些编辑吗？"))) {
    case QMessageBox::Save:
        if (m_run) { // the run going on ends first; then the window is closed again
            m_run->after = [this, previous = std::move(m_run->after)](const QStringList &converted) {
                if (previous)
                    previous(converted);
                close();
            };
        } else {
            startRun(rowsOf(unsaved), [this, unsaved](const QStringList &converted) {
                if (std::all_of(unsaved.cbegin(), unsaved.cend(),
                                [&converted](const QString &path) { return converted.contains(path); }))
                    close();
            });
        }
        break;
    case QMessageBox::Discard:
        for (const QString &path : unsaved)
            m_edits->discard(path);
        event->accept();
        break;
    default:
        break;
    }
}

// The dialog's value is set on its bar, never through QProgressDialog::setValue(), which would
// show the dialog on its own schedule and, once shown, run the event loop inside itself.
void Form1::showProgressDialog()
{
    if (!m_run)
        return;
    m_run->dialog = std::make_unique<QProgressDialog>(this);
    QProgressDialog *dialog = m_run->dialog.get();
    dialog->setObjectName(QStringLiteral("progress"));
    dialog->setWindowTitle(QStringLiteral("正在转换"));
    dialog->setAccessibleName(QStringLiteral("转换进度"));
    dialog->setWindowModality(Qt::WindowModal);
    dialog->setAutoReset(false);
    dialog->setAutoClose(false);
    m_run->bar = new QProgressBar(dialog);
    m_run->bar->setAccessibleName(QStringLiteral("已转换的文件"));
    dialog->setBar(m_run->bar);
    m_run->bar->setRange(0, int(m_run->total));
    dialog->setLabelText(QStringLiteral("0 / %1").arg(m_run->total));
    connect(dialog, &QProgressDialog::canceled, this, [this] {
        if (m_run)
            m_run->stop = true;
    });
    updateProgress();
    dialog->show();
    m_progressPoll->start();
}

void Form1::updateProgress()
{
    if (!m_run || !m_run->dialog || m_run->dialog->wasCanceled())
        return;
    const std::optional<RunProgress::State> state = m_run->progress.take();
    if (!state)
        return;
    QProgressDialog *dialog = m_run->dialog.get();
    const QString name = dialog->fontMetrics().elidedText(shownEntry(QFileInfo(state->current).fileName()),
                                                          Qt::ElideMiddle, kProgressNameWidth);
    dialog->setLabelText(QStringLiteral("%1 / %2\n%3").arg(state->done).arg(state->total).arg(name));
    m_run->bar->setValue(int(state->done));
}

void Form1::finishRun()
{
    m_progressDelay->stop();
    m_progressPoll->stop();
    m_run->thread->wait();
    const ConvertReport report = std::move(m_run->report);
    const QPointer<QWidget> focus = m_run->focus;
    const QStringList converted = convertedFiles(m_run->files, report);
    for (const QString &path : std::as_const(m_run->edited)) {
        if (EditedFile *file = m_edits->find(path); file && converted.contains(path))
            file->markSaved();
    }
    const AfterRun after = std::move(m_run->after);
    m_run.reset(); // and the dialog with it, before the message shows
    setRunning(false);
    if (focus)
        focus->setFocus();

    showMessage(completionMessage(report));
    if (after)
        after(converted);
}

void Form1::showMessage(const CompletionMessage &message)
{
    QMessageBox box(message.isWarning ? QMessageBox::Warning : QMessageBox::NoIcon, message.title, message.text,
                    QMessageBox::Ok, this);
    box.setObjectName(QStringLiteral("completionMessage"));
    m_presentMessageBox(box);
}

bool Form1::moreSectionOpen() const
{
    return m_moreSection && m_more->isChecked();
}

// The section lies right of the original controls; the window widens, and lengthens for the
// preview. Open, it can be resized; closed, it is the closed window again, at its one size.
void Form1::showMoreSection(bool open)
{
    if (open && !m_moreSection) {
        m_moreSection = new MoreSection(this);
        m_moreSection->preview()->setEditedFiles(m_edits);
        m_moreSection->setRetiming(m_check1->isChecked());
        connect(m_check1, &QCheckBox::toggled, m_moreSection, &MoreSection::setRetiming);
        connect(m_moreSection, &MoreSection::addFilesClicked, m_addFiles, &QAction::trigger);
        connect(m_moreSection, &MoreSection::changed, this, [this] {
            updateEncodingChoice();
            updatePreview();
        });
        m_moreSection->installEventFilter(this);
        restoreOpenLayout();
    }
    m_more->setArrowType(open ? Qt::LeftArrow : Qt::RightArrow);
    m_more->setToolTip(open ? QStringLiteral("Less") : QStringLiteral("More"));
    if (open) {
        m_moreSection->show();
        fitMoreSection(true);
    } else if (m_moreSection) {
        saveOpenLayout();
        m_moreSection->hide();
        setWindowState(windowState() & ~(Qt::WindowMaximized | Qt::WindowFullScreen));
        placeControls(0);
        setFixedSize(m_closedSize);
    }
    updateEncodingChoice();
    updatePreview();
}

// The least the open window can be: the closed window's controls, and the section's fields at
// their size with the preview's header and three rows, or its words, at the section's width now.
QSize Form1::openMinimumSize() const
{
    const QSize section = m_moreSection->minimumSizeHint();
    const int sectionWidth = std::max(section.width(), width() - m_closedSize.width());
    return {m_closedSize.width() + section.width(),
            std::max({m_closedSize.height(), section.height(), m_moreSection->heightForWidth(sectionWidth)})};
}

// Opening, the window takes the size it was last left at, or else the one the section asks for
// (the preview's ten rows and four columns whole), within the screen. While the section stays
// open its least size follows what comes into it (a status line, a chosen folder, a mark), so
// that nothing in it is cut off; the window grows when it is below that, and otherwise keeps the
// size the user gave it.
void Form1::fitMoreSection(bool opening)
{
    setMaximumSize(QWIDGETSIZE_MAX, QWIDGETSIZE_MAX);
    setMinimumSize(openMinimumSize());
    if (opening) {
        const QSize section = m_moreSection->sizeHint();
        const QSize asked = m_openSize.isValid()
            ? m_openSize
            : QSize(m_closedSize.width() + section.width(), std::max(m_closedSize.height(), section.height()));
        const QRect screen = this->screen()->availableGeometry();
        const QSize frame = frameGeometry().size() - size(); // the window manager's borders
        resize(asked.boundedTo(screen.size() - frame).expandedTo(minimumSize()));
        keepOnScreen(screen);
    }
    layOutOpenWindow();
}

// A window widened or lengthened past the screen's edge is moved back within it.
void Form1::keepOnScreen(const QRect &screen)
{
    QRect frame = frameGeometry();
    frame.moveRight(std::min(frame.right(), screen.right()));
    frame.moveBottom(std::min(frame.bottom(), screen.bottom()));
    frame.moveLeft(std::max(frame.left(), screen.left()));
    frame.moveTop(std::max(frame.top(), screen.top()));
    if (frame.topLeft() != frameGeometry().topLeft())
        move(frame.topLeft());
}

// The original controls at the left, the list taking the height the window has past the closed
// one's; the section beside them takes the rest of the width, the preview at its bottom the rest
// of the height.
void Form1::layOutOpenWindow()
{
    placeControls(height() - m_closedSize.height());
    m_moreSection->setGeometry(m_closedSize.width(), 0, width() - m_closedSize.width(), height());
}

void Form1::resizeEvent(QResizeEvent *event)
{
    QWidget::resizeEvent(event);
    if (moreSectionOpen()) {
        layOutOpenWindow();
        setMinimumSize(openMinimumSize()); // the preview's words wrap anew at the new width
    }
}

// The open window's size, as the user last left it (not maximized), and the preview's columns.
// Tests enable QStandardPaths' test mode, which QSettings follows.
void Form1::saveOpenLayout()
{
    const bool filling = windowState() & (Qt::WindowMaximized | Qt::WindowFullScreen);
    m_openSize = filling && normalGeometry().isValid() ? normalGeometry().size() : size();
    QSettings settings;
    settings.setValue(kOpenSizeKey, m_openSize);
    settings.setValue(kPreviewColumnsKey, m_moreSection->preview()->columnState());
}

void Form1::restoreOpenLayout()
{
    const QSettings settings;
    m_openSize = settings.value(kOpenSizeKey).toSize();
    m_moreSection->preview()->restoreColumnState(settings.value(kPreviewColumnsKey).toByteArray());
}

bool Form1::eventFilter(QObject *watched, QEvent *event)
{
    if (watched == m_moreSection && event->type() == QEvent::LayoutRequest && moreSectionOpen())
        fitMoreSection(false);
    return QWidget::eventFilter(watched, event);
}

// What the Menu key does: the window system's keyboard context menu event, which Qt hands to the
// focused control at its cursor or centre.
void Form1::openContextMenu()
{
    QContextMenuEvent event(QContextMenuEvent::Keyboard, QPoint(), QPoint());
    QCoreApplication::sendEvent(windowHandle(), &event);
}

// "ANSI" and "Unicode" apply to simple text output only.
void Form1::updateEncodingChoice()
{
    const bool simple = !moreSectionOpen() || m_moreSection->writesSimpleText();
    m_option1Ansi->setEnabled(!m_run && simple);
    m_option1Unicode->setEnabled(!m_run && simple);
}

// The selected file as "Save" would write it now; in its place, why there is none: no file
// selected, a field invalid, or a name that does not name its file (it is never converted).
void Form1::updatePreview()
{
    if (!moreSectionOpen())
        return;
    PreviewPane *preview = m_moreSection->preview();
    const int row = m_lstFiles->selectedItems().isEmpty() ? -1 : m_lstFiles->row(m_lstFiles->selectedItems().first());
    if (!m_moreSection->problems().isEmpty())
        preview->clear(u"设置有误，无法预览：\n" + m_moreSection->problems().join(u'\n'));
    else if (row < 0)
        preview->clear(m_lstFiles->count() ? QStringLiteral("在列表中选择一个文件，这里显示它保存后的章节")
                                           : QStringLiteral("列表中没有文件：把章节文件拖到窗口上，或按Ctrl+O添加"));
    else if (m_lstFiles->undecodableRows().contains(row))
        preview->clear(QStringLiteral("文件名无法解码，此文件不会转换"));
    else
        preview->showFile(m_lstFiles->item(row)->text(), options());
}

} // namespace Tessaline
