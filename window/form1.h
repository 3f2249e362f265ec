#pragma once

#include "conversion.h"

#include <QStringList>
#include <QWidget>

#include <functional>
#include <memory>

class QAction;
class QCheckBox;
class QCloseEvent;
class QEvent;
class QListWidget;
class QMessageBox;
class QPlainTextEdit;
class QPushButton;
class QRadioButton;
class QTimer;
class QToolButton;

namespace Tessaline {

class EditedFiles;
class FileListWidget;
class MoreSection;
struct DroppedPath;
struct CompletionMessage;
class Module1;

// The program's one window: the file list, the names box, the two options, the choice of output
// encoding and "Save", at fixed positions. Controls carry their designer names as object names:
// lstFiles, Text1, Check1, Check2, Option1_0 ("ANSI"), Option1_1 ("Unicode") and Command1.
// Files dropped anywhere on the window reach the file list through the window's hook (Module1)
// and MessageProc. "Save" converts on a thread of its own; a run that lasts longer than half a
// second shows its progress in a window-modal dialog that can cancel it. The window shows the
// dialog itself, from a timer of its own, and reads the run's progress every 100 ms; the dialog
// is gone before the completion message shows. The arrow button "more", right of the option
// buttons, opens the MoreSection to the window's right (built when first opened, closed at each
// start): its settings count only while it is open, and its preview shows the selected file.
// Closed, the window has one size; open, it can be resized and maximized, down to a least size
// at which nothing is cut off: the file list takes the height it gains (the names box and the
// controls beside it keep their size, below the list), the preview the width and height. The
// open size and the preview's columns are remembered between runs (QSettings).
// Files also come from "Add files…" (Ctrl+O) and the command line; Enter presses "Save", which
// with no file listed says so at once. Tab goes across the list, down the names box, then down
// the right column and on into the section; Shift+F10 opens a context menu as the Menu key does.
class Form1 : public QWidget
{
    Q_OBJECT

public:
    explicit Form1(QWidget *parent = nullptr);
    ~Form1() override;

    // Called by the hook with every event of the window. A drop appends its files to the file
    // list (addFiles), in the drop's order, and widens the list's horizontal scroll range to the
    // widest entry (not while a run goes on); every other event is left alone.
    void MessageProc(QEvent *event);

    // Appends the files that are chapter sources (isChapterSource) to the file list, in order: a
    // drop's, "Add files…"'s (Ctrl+O, the list's context menu, the section's button) and the
    // command line's. An undecodable name cannot be read, so it is taken for its ".txt" name
    // only, and then refused when converted.
    void addFiles(const QList<DroppedPath> &files);

    // The pixels that the widest entry of lstThis needs (its text width in the list's font plus
    // 8); 0 for an empty list.
    static int ListTextWidth(const QListWidget *lstThis);

    // A snapshot of the options the controls stand for, as "Save" hands them to the conversion;
    // the "More" section's settings too while it is open.
    ConvertOptions options() const;

    // The entries of the file list, in list order.
    QStringList files() const;

    // Shows the completion message of a run, once the run has ended, and the questions about
    // edits. The default runs the box modally (exec()); tests install their own to read the box
    // and close it, or click one of its buttons (the answer is the button clicked; none: Cancel).
    using MessageBoxPresenter = std::function<void(QMessageBox &box)>;
    void setMessageBoxPresenter(MessageBoxPresenter presenter);

    // Runs the conversion of "Save", on a thread of its own. The default is ConvertAll; tests
    // install their own to hold a run at a known point.
    using Conversion = std::function<ConvertReport(const QStringList &, const ConvertOptions &, const RunControl &)>;
    void setConversion(Conversion conversion);

    // Asks for files to add, starting in folder (empty: the current one). The default is
    // QFileDialog::getOpenFileNames, offering the readable formats and all files; tests install
    // their own.
    using FileChooser = std::function<QStringList(QWidget *parent, const QString &folder)>;
    void setFileChooser(FileChooser chooser);

protected:
    void dragEnterEvent(QDragEnterEvent *event) override;
    void dragMoveEvent(QDragMoveEvent *event) override;
    void dropEvent(QDropEvent *event) override;
    // Enter or Return that no control took presses the focused push or tool button, or else
    // "Save" (from the list, a check box, an option button, a field of the section).
    void keyPressEvent(QKeyEvent *event) override;
    bool eventFilter(QObject *watched, QEvent *event) override;
    void paintEvent(QPaintEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;
    // With edits not yet saved, asks first: save (and close once they are), discard, or cancel.
    void closeEvent(QCloseEvent *event) override;

private:
    struct Run;
    // What comes after a run, once its message is shown: given the files it converted.
    using AfterRun = std::function<void(const QStringList &converted)>;

    void placeControls(int listGrowth);
    void describeControls();
    void chooseFiles();
    void setInitialState();
    void enableNamesBox(bool enabled);
    void setRunning(bool running);
    void save();
    void startRun(const QList<int> &rows, AfterRun after);
    QStringList editProblems(const QStringList &files, const ConvertOptions &options) const;
    bool settleChangedFiles(const QStringList &files);
    int askToSave(const QStringList &unsaved, const QString &question);
    int ask(QMessageBox &box);
    bool mayRemove(const QList<int> &rows);
    QList<int> rowsOf(const QStringList &paths) const;
    void showProgressDialog();
    void updateProgress();
    void finishRun();
    void showMessage(const CompletionMessage &message);
    bool moreSectionOpen() const;
    void showMoreSection(bool open);
    void fitMoreSection(bool opening);
    QSize openMinimumSize() const;
    void keepOnScreen(const QRect &screen);
    void layOutOpenWindow();
    void saveOpenLayout();
    void restoreOpenLayout();
    void openContextMenu();
    void updateEncodingChoice();
    void updatePreview();

    Module1 *m_module1;
    EditedFiles *m_edits; // the files' edits, held until saved
    FileListWidget *m_lstFiles;
    bool m_dragHasLocalPaths = false; // of the drag over the window now
    bool m_painted = false; // the window has been drawn once
    std::unique_ptr<Run> m_run; // the conversion going on, if any
    QTimer *m_progressDelay; // from "Save" to the progress dialog
    QTimer *m_progressPoll; // reads the run's progress into the dialog
    QCheckBox *m_check1;
    QCheckBox *m_check2;
    QPushButton *m_command1;
    QRadioButton *m_option1Ansi;
    QRadioButton *m_option1Unicode;
    QPlainTextEdit *m_text1;
    QToolButton *m_more;
    QAction *m_addFiles; // Ctrl+O, in the list's context menu and on the section's button
    MoreSection *m_moreSection = nullptr; // built when first opened
    QSize m_closedSize; // the window's, with the section closed
    QSize m_openSize; // the open window's as last left; invalid until then
    MessageBoxPresenter m_presentMessageBox;
    Conversion m_conversion;
    FileChooser m_chooseFiles;
};

} // namespace Tessaline
