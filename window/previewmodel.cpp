#include "previewmodel.h"

#include "chapterchange.h"
#include "chaptertime.h"
#include "chapterwriter.h"
#include "completionmessage.h"
#include "editedfile.h"

#include "formats/outputformat.h"

#include <QApplication>
#include <QBrush>
#include <QStyle>

#include <array>

namespace Tessaline {

namespace {

constexpr std::array<QStringView, PreviewModel::ColumnCount> kHeaders
    = {u"No.", u"Time read", u"Time written", u"Title"};

bool isTimeColumn(int column)
{
    return column == PreviewModel::TimeReadColumn || column == PreviewModel::TimeWrittenColumn;
}

bool isEditedColumn(int column)
{
    return column == PreviewModel::TimeReadColumn || column == PreviewModel::TitleColumn;
}

// The time written, when the run snaps to keyframes: a chapter that stayed where it was is marked,
// and says why; one that moved, where from.
QVariant snapData(const ChapterPreviewRow &row, int role)
{
    const bool stayed = !row.notSnapped.isEmpty();
    switch (role) {
    case Qt::DecorationRole:
        return stayed ? QApplication::style()->standardIcon(QStyle::SP_MessageBoxWarning) : QVariant();
    case Qt::ToolTipRole:
        return stayed                     ? QVariant(u"未对齐到关键帧：" + row.notSnapped)
            : row.timeUnsnapped.isEmpty() ? QVariant()
                                          : QVariant(u"已对齐到关键帧，原为" + row.timeUnsnapped);
    case Qt::AccessibleTextRole:
        return stayed ? QVariant(row.timeWritten + u"，未对齐到关键帧") : QVariant();
    default:
        return {};
    }
}

// A cell with no text (an untitled chapter) still has a name for a screen reader.
QVariant accessibleText(const QString &shown)
{
    return shown.isEmpty() ? QVariant(QStringLiteral("无标题")) : QVariant();
}

} // namespace

void PreviewModel::setRows(QList<ChapterPreviewRow> rows, bool editable)
{
    beginResetModel();
    follow(nullptr);
    m_rows = std::move(rows);
    m_editable = editable;
    endResetModel();
}

void PreviewModel::setDocument(EditedFile *file, RunContext run)
{
    // The file's rows in place of its preview's: the table keeps its place when there are as many.
    const bool sameRows = file->chapters().size() == rowCount();
    if (!sameRows)
        beginResetModel();
    follow(file);
    m_rows.clear();
    m_run.emplace(std::move(run));
    recompute();
    if (!sameRows)
        endResetModel();
    else if (!m_edited.isEmpty())
        emit dataChanged(index(0, 0), index(rowCount() - 1, ColumnCount - 1));
    emit editedRowsChanged();
}

void PreviewModel::setRun(RunContext run)
{
    m_run.emplace(std::move(run));
    rowsChangedFrom(0);
}

// The rows follow the file's changes, announced before and after as views need them.
void PreviewModel::follow(EditedFile *file)
{
    if (m_file)
        m_file->disconnect(this);
    m_file = file;
    m_edited.clear();
    if (!file) {
        m_run.reset();
        return;
    }
    connect(file, &EditedFile::rowsChanged, this, [this](int first, int last) {
        recompute();
        emit dataChanged(index(first, 0), index(last, ColumnCount - 1));
        emit editedRowsChanged();
    });
    connect(file, &EditedFile::aboutToInsert, this, [this](int row) { beginInsertRows({}, row, row); });
    connect(file, &EditedFile::inserted, this, [this](int row) {
        recompute();
        endInsertRows();
        rowsChangedFrom(row);
    });
    connect(file, &EditedFile::aboutToRemove, this, [this](int row) { beginRemoveRows({}, row, row); });
    connect(file, &EditedFile::removed, this, [this](int row) {
        recompute();
        endRemoveRows();
        rowsChangedFrom(row);
    });
    connect(file, &EditedFile::aboutToReset, this, &PreviewModel::beginResetModel);
    connect(file, &EditedFile::reset, this, [this] {
        recompute();
        endResetModel();
        emit editedRowsChanged();
    });
    // A file whose edits are discarded goes with them.
    connect(file, &QObject::destroyed, this, [this] { setRows({}); });
}

void PreviewModel::recompute()
{
    m_edited = m_file ? previewEditedChapters(m_file->chapters(), m_file->simpleText(), *m_run) : QList<EditedRow>();
}

// Numbers and the names box's lines move with the rows after an insertion or deletion.
void PreviewModel::rowsChangedFrom(int first)
{
    recompute();
    if (first < rowCount())
        emit dataChanged(index(first, 0), index(rowCount() - 1, ColumnCount - 1));
    emit editedRowsChanged();
}

int PreviewModel::rowCount(const QModelIndex &parent) const
{
    if (parent.isValid())
        return 0;
    return int(m_file ? m_edited.size() : m_rows.size());
}

int PreviewModel::columnCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : ColumnCount;
}

QVariant PreviewModel::data(const QModelIndex &index, int role) const
{
    if (!checkIndex(index, CheckIndexOption::IndexIsValid))
        return {};
    return m_file ? editedData(index.row(), index.column(), role)
                  : previewData(m_rows[index.row()], index.column(), role);
}

QVariant PreviewModel::previewData(const ChapterPreviewRow &row, int column, int role) const
{
    const std::array<QVariant, ColumnCount> shown = {qlonglong(row.number), row.timeRead, row.timeWritten, row.title};
    if (column == TimeWrittenColumn && role != Qt::DisplayRole && role != Qt::EditRole) {
        if (const QVariant snap = snapData(row, role); snap.isValid())
            return snap;
    }
    switch (role) {
    case Qt::DisplayRole:
    case Qt::EditRole:
        return shown[column];
    case Qt::AccessibleTextRole:
        return accessibleText(shown[column].toString());
    default:
        return {};
    }
}

QVariant PreviewModel::editedData(int rowNumber, int column, int role) const
{
    const EditedRow &row = m_edited[rowNumber];
    const bool invalid = row.problem && isTimeColumn(column);
    const QString shown = column == NumberColumn ? QString::number(row.written.number)
        : column == TimeReadColumn               ? row.written.timeRead
        : column == TimeWrittenColumn            ? (row.problem ? QStringLiteral("无效") : row.written.timeWritten)
                                                 : row.written.title;
    if (column == TimeWrittenColumn && !invalid && role != Qt::DisplayRole && role != Qt::EditRole) {
        if (const QVariant snap = snapData(row.written, role); snap.isValid())
            return snap;
    }
    switch (role) {
    case Qt::DisplayRole:
        return column == NumberColumn ? QVariant(qlonglong(row.written.number)) : QVariant(shown);
    case Qt::EditRole:
        return column == TitleColumn ? m_file->chapters()[rowNumber].chapter.title : shown;
    case Qt::ForegroundRole:
        return invalid ? QVariant(QBrush(Qt::red)) : QVariant();
    case Qt::ToolTipRole:
        if (invalid)
            return timeProblemText(*row.problem, m_run->options.format);
        return {}; // a title cut off shows whole in the view's own tool tip
    case Qt::AccessibleTextRole:
        return accessibleText(shown);
    case Qt::AccessibleDescriptionRole:
        return invalid ? QVariant(u"无效：" + timeProblemText(*row.problem, m_run->options.format)) : QVariant();
    default:
        return {};
    }
}

bool PreviewModel::setData(const QModelIndex &index, const QVariant &value, int role)
{
    if (!m_file || role != Qt::EditRole || !checkIndex(index, CheckIndexOption::IndexIsValid))
        return false;
    if (index.column() == TimeReadColumn)
        m_file->setTime(index.row(), value.toString());
    else if (index.column() == TitleColumn)
        m_file->setTitle(index.row(), value.toString());
    else
        return false;
    return true;
}

Qt::ItemFlags PreviewModel::flags(const QModelIndex &index) const
{
    const Qt::ItemFlags flags = QAbstractTableModel::flags(index);
    return (m_file || m_editable) && isEditedColumn(index.column()) ? flags | Qt::ItemIsEditable : flags;
}

QVariant PreviewModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (orientation == Qt::Horizontal && role == Qt::DisplayRole && section >= 0 && section < ColumnCount)
        return kHeaders[section].toString();
    return QAbstractTableModel::headerData(section, orientation, role);
}

QString timeProblemText(const Failure &problem, ChapterFormat format)
{
    switch (problem.kind) {
    case Failure::Kind::UnreadableTime:
        return QStringLiteral("“%1”不是时:分:秒.毫秒格式的时间（如00:01:30.500）").arg(quotedLineStart(problem.detail));
    case Failure::Kind::TimeOutOfRange:
        return QStringLiteral("%1换算后不在输出格式能写的范围内（00:00:00.000到%2）")
            .arg(problem.detail, chapterTimeText(outputFormatOf(format).largestMs));
    default:
        return failureText(problem);
    }
}

} // namespace Tessaline
