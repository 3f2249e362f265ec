#pragma once

#include "chapteredits.h"
#include "conversion.h"

#include <QAbstractTableModel>
#include <QPointer>

#include <optional>

namespace Tessaline {

class EditedFile;

// The rows of the preview's table, one column per field of ChapterPreviewRow: a file's preview
// as the conversion computed it, or the chapters of an edited file and what they become, which
// follow each edit at once. Of an edited file, the time as read and the title are edited (the
// title's edit text is the title as read, its display the title as written); a time that cannot
// be written is shown red, its reason in the tool tip and the accessible description, and the
// time as written then reads "无效".
class PreviewModel : public QAbstractTableModel
{
    Q_OBJECT

public:
    enum Column { NumberColumn, TimeReadColumn, TimeWrittenColumn, TitleColumn, ColumnCount };

    using QAbstractTableModel::QAbstractTableModel;

    // A file's preview, not edited. editable: its cells say they can be edited, so that an edit
    // can begin (the table has the file read for editing first).
    void setRows(QList<ChapterPreviewRow> rows, bool editable = false);
    // An edited file, and what its chapters become under run; the rows follow the file's edits.
    void setDocument(EditedFile *file, RunContext run);
    // What the document's chapters become under another run's options.
    void setRun(RunContext run);
    EditedFile *document() const { return m_file; }
    // Why chapters of the document cannot be written, in chapter order.
    QList<Failure> problems() const { return problemsOf(m_edited); }

    int rowCount(const QModelIndex &parent = {}) const override;
    int columnCount(const QModelIndex &parent = {}) const override;
    QVariant data(const QModelIndex &index, int role) const override;
    bool setData(const QModelIndex &index, const QVariant &value, int role = Qt::EditRole) override;
    Qt::ItemFlags flags(const QModelIndex &index) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override;

signals:
    // The document's chapters, or what they become, changed.
    void editedRowsChanged();

private:
    void follow(EditedFile *file);
    void recompute();
    void rowsChangedFrom(int first);
    QVariant previewData(const ChapterPreviewRow &row, int column, int role) const;
    QVariant editedData(int row, int column, int role) const;

    QList<ChapterPreviewRow> m_rows; // not edited
    bool m_editable = false;
    QPointer<EditedFile> m_file;
    std::optional<RunContext> m_run; // with m_file
    QList<EditedRow> m_edited; // of m_file's chapters, under m_run
};

// Why an edited chapter's time cannot be written (a problem of previewEditedChapters), in the
// window's words.
QString timeProblemText(const Failure &problem, ChapterFormat format);

} // namespace Tessaline
