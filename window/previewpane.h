#pragma once

#include "conversion.h"

#include <QWidget>

#include <functional>
#include <memory>

class QLabel;
class QTimer;

namespace Tessaline {

class ChapterTable;
class EditedFile;
class EditedFiles;
class PreviewModel;

// What "Save" would write for one file: a table of its chapters (number, time as read, time as
// it will be written, title as it will be written), or why the file would fail. The preview is
// computed by the conversion itself, on Qt's global thread pool (which the application waits for
// as it ends), so the pane never waits for a file; until the latest request's result arrives, the
// pane says "…". Once edited files are given, the table is their editor (ChapterTable): a file
// whose first edit begins is read for editing, and an edited file is shown from its chapters in
// memory, computed at once as the options apply to them; a chapter whose time cannot be written
// is then named in the words' place. Object names: "previewTable" and "previewStatus".
class PreviewPane : public QWidget
{
    Q_OBJECT

public:
    static constexpr qsizetype kShownChapters = 10'000; // rows of the table at most
    static constexpr int kDebounceMs = 150; // a burst of requests closer than this computes once

    explicit PreviewPane(QWidget *parent = nullptr);
    ~PreviewPane() override;

    // Shows what path becomes under options, once no further request has come for kDebounceMs.
    // A result for an earlier request is dropped.
    void showFile(const QString &path, const ConvertOptions &options);

    // Shows no file but why there is none to show (in the table's place), and drops any result
    // still to come.
    void clear(const QString &why);

    // The edits of the listed files, which the table makes and shows.
    void setEditedFiles(EditedFiles *files);

    // Computes the preview of a file, off the GUI thread. The default is prepareRun and
    // previewEntry, as "Save" converts; tests install their own to count or hold computations.
    using Computation = std::function<Expected<FilePreview>(const QString &path, const ConvertOptions &options)>;
    void setComputation(Computation computation);

    // The widths of the table's columns as the user left them, and to set them again (in
    // QHeaderView::saveState's form); a state that does not apply is ignored.
    QByteArray columnState() const;
    void restoreColumnState(const QByteArray &state);

    // Ten rows and the four columns whole, the title's for 15 Chinese characters, and a line of
    // words below the table; at least three rows and the line. The same whether the table or the
    // words in its place show, so that the pane keeps its size as they take turns.
    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;
    int heightForWidth(int width) const override; // the least: of the wrapped words, or the table's

signals:
    // The result of the latest request (a table or a failure) is shown.
    void previewShown();

private:
    struct Requests;

    void startComputation();
    void showResult(quint64 request, const Expected<FilePreview> &result);
    void showStatus(const QString &text);
    int tableHeight(int rows) const;
    int tableAndLineHeight(int rows) const;
    EditedFile *editShownFile();
    void showEdited(EditedFile *file);
    void showEditedStack(EditedFile *file);
    void showEditProblems();

    std::shared_ptr<Requests> m_requests; // shared with the computations
    quint64 m_request = 0; // the latest request: its result is the one shown
    QString m_path;
    ConvertOptions m_options;
    Computation m_computation;
    QTimer *m_debounce;
    EditedFiles *m_editedFiles = nullptr;
    PreviewModel *m_model;
    ChapterTable *m_table;
    QLabel *m_status;
};

} // namespace Tessaline
