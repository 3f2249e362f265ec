#include "previewpane.h"

#include "chaptertable.h"
#include "completionmessage.h"
#include "elidedtexttooltip.h"

#include "editedfile.h"
#include "previewmodel.h"

#include <QHeaderView>
#include <QLabel>
#include <QMutex>
#include <QMutexLocker>
#include <QScrollBar>
#include <QStyle>
#include <QTableView>
#include <QThreadPool>
#include <QTimer>
#include <QUndoGroup>
#include <QVBoxLayout>

#include <algorithm>
#include <atomic>

namespace Tessaline {

// What the pane and its computations share. A computation posts its result to the pane under the
// mutex, and the pane forgets itself under it as it goes, so a result is posted either to a live
// pane (whose destruction then removes it unseen) or not at all.
struct PreviewPane::Requests
{
    QMutex mutex;
    PreviewPane *pane = nullptr; // null once the pane is gone
    std::atomic<quint64> latest = 0; // a computation of an earlier request does not begin
};

namespace {

Expected<FilePreview> conversionPreview(const QString &path, const ConvertOptions &options)
{
    Expected<RunContext> run = prepareRun(options);
    if (!run)
        return run.error();
    return previewEntry(path, *run, PreviewPane::kShownChapters);
}

constexpr int kHintedRows = 10; // the table's rows at the pane's size hint
constexpr int kLeastRows = 3; // at its least
constexpr int kHintedTitleCharacters = 15; // Chinese characters of the title column at the size hint

// The size of a cell of the table showing text, after an icon of the style's small size when
// decorated, as the style lays it out.
QSize cellSize(const QTableView *table, const QString &text, bool decorated = false)
{
    QStyleOptionViewItem option;
    option.initFrom(table);
    option.widget = table;
    option.font = table->font();
    option.features = QStyleOptionViewItem::HasDisplay;
    option.text = text;
    if (decorated) {
        const int icon = table->style()->pixelMetric(QStyle::PM_SmallIconSize, nullptr, table);
        option.features |= QStyleOptionViewItem::HasDecoration;
        option.decorationSize = QSize(icon, icon);
    }
    return table->style()->sizeFromContents(QStyle::CT_ItemViewItem, &option, {}, table);
}

// A row as tall as a line of text in the table's font needs: digits, kana and Han characters
// (Chinese and Japanese titles are drawn in fallback faces that are often taller than the
// font's own), rather than the style's default row of 30 pixels whatever the font.
int lineRowHeight(const QTableView *table)
{
    return cellSize(table, QStringLiteral("09:あ中")).height() + (table->showGrid() ? 1 : 0);
}

// The number and the two times as wide as their widest values or their captions, the time written
// with room for the mark of a chapter not snapped to a keyframe before it; the title takes the
// rest of the table's width (the last section stretches).
void fitColumns(QTableView *table)
{
    QHeaderView *header = table->horizontalHeader();
    const int margin = 2 * header->style()->pixelMetric(QStyle::PM_HeaderMargin, nullptr, header) + 4;
    const QFontMetrics metrics = table->fontMetrics();
    const QString time = QStringLiteral("00:00:00.000");
    const int mark = cellSize(table, time, true).width() - cellSize(table, time).width();
    const int widest[] = {metrics.horizontalAdvance(QStringLiteral("00000")), metrics.horizontalAdvance(time),
                          metrics.horizontalAdvance(time) + mark};
    for (int column : {0, 1, 2})
        header->resizeSection(column, std::max(widest[column] + margin, header->sectionSizeHint(column)));
}

} // namespace

PreviewPane::PreviewPane(QWidget *parent)
    : QWidget(parent), m_requests(std::make_shared<Requests>()), m_computation(conversionPreview),
      m_debounce(new QTimer(this)), m_model(new PreviewModel(this)), m_table(new ChapterTable(this)),
      m_status(new QLabel(this))
{
    m_requests->pane = this;
    m_debounce->setSingleShot(true);
    m_debounce->setInterval(kDebounceMs);
    connect(m_debounce, &QTimer::timeout, this, &PreviewPane::startComputation);

    m_table->setObjectName(QStringLiteral("previewTable"));
    m_table->setAccessibleName(QStringLiteral("Chapter preview"));
    m_table->setAccessibleDescription(
        QStringLiteral("The selected file's chapters as Save writes them: number, time read, time written, title"));
    m_table->setModel(m_model);
    m_table->setSelectionBehavior(QAbstractItemView::SelectRows);
    m_table->setWordWrap(false);
    // Columns the user widens past the table's width scroll sideways; the title takes what the
    // others leave, and a title cut off shows whole in its tool tip.
    m_table->setHorizontalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    m_table->setHorizontalScrollMode(QAbstractItemView::ScrollPerPixel);
    QHeaderView *columns = m_table->horizontalHeader();
    columns->setSectionResizeMode(QHeaderView::Interactive);
    columns->setStretchLastSection(true);
    columns->setSectionsMovable(false);
    fitColumns(m_table);
    QHeaderView *rows = m_table->verticalHeader();
    rows->hide();
    rows->setSectionResizeMode(QHeaderView::Fixed);
    rows->setDefaultSectionSize(lineRowHeight(m_table));
    new ElidedTextToolTip(m_table);

    m_status->setObjectName(QStringLiteral("previewStatus"));
    m_status->setAccessibleDescription(QStringLiteral("Preview status"));
    m_status->setTextFormat(Qt::PlainText); // a path or a line of the file is never markup
    m_status->setWordWrap(true);
    m_status->setAlignment(Qt::AlignLeft | Qt::AlignTop); // alone, it takes the table's place
    m_status->setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard);
    m_status->setFocusPolicy(Qt::StrongFocus); // Tab reaches what it says, in the table's place
    m_status->hide();
    connect(m_model, &PreviewModel::editedRowsChanged, this, &PreviewPane::showEditProblems);

    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins({});
    layout->addWidget(m_table);
    layout->addWidget(m_status);
}

PreviewPane::~PreviewPane()
{
    m_model->disconnect(this); // an editor still open commits as the pane goes
    const QMutexLocker locker(&m_requests->mutex);
    m_requests->pane = nullptr;
    m_requests->latest = 0; // requests count from 1: none waiting begins
}

void PreviewPane::showFile(const QString &path, const ConvertOptions &options)
{
    EditedFile *const file = m_editedFiles ? m_editedFiles->find(path) : nullptr;
    if (path != m_path || (m_model->document() && m_model->document() != file))
        m_model->setRows({}); // no rows of another file while this one is computed
    m_path = path;
    m_options = options;
    if (file) {
        showEdited(file);
        return;
    }
    showEditedStack(nullptr);
    m_requests->latest = ++m_request;
    m_table->show();
    showStatus(QStringLiteral("…"));
    m_debounce->start();
}

void PreviewPane::clear(const QString &why)
{
    m_debounce->stop();
    m_requests->latest = ++m_request;
    m_path.clear();
    m_model->setRows({});
    showEditedStack(nullptr);
    m_table->hide();
    showStatus(why);
}

void PreviewPane::setEditedFiles(EditedFiles *files)
{
    m_editedFiles = files;
    m_table->setUndoGroup(files->undoGroup());
    m_table->setEditStart([this] { return editShownFile(); });
}

EditedFile *PreviewPane::editShownFile()
{
    if (m_model->document())
        return m_model->document();
    if (!m_editedFiles || m_path.isEmpty())
        return nullptr;
    const Expected<EditedFile *> file = m_editedFiles->open(m_path, m_options);
    if (!file) {
        showStatus(u"无法编辑：" + failureLine(file.error()));
        return nullptr;
    }
    showEdited(*file);
    return *file;
}

// An edited file is shown from its chapters in memory at once, under the options as they are;
// no preview still to come is shown over it.
void PreviewPane::showEdited(EditedFile *file)
{
    m_debounce->stop();
    m_requests->latest = ++m_request;
    Expected<RunContext> run = prepareRun(m_options);
    if (!run) {
        m_model->setRows({});
        m_table->hide();
        showStatus(failureLine(run.error()));
    } else {
        if (m_model->document() == file)
            m_model->setRun(std::move(*run));
        else
            m_model->setDocument(file, std::move(*run));
        showEditedStack(file);
        m_table->show();
    }
    emit previewShown();
}

void PreviewPane::showEditedStack(EditedFile *file)
{
    if (m_editedFiles)
        m_editedFiles->undoGroup()->setActiveStack(file ? file->undoStack() : nullptr);
}

// The first chapter whose time cannot be written, and how many there are.
void PreviewPane::showEditProblems()
{
    if (!m_model->document())
        return;
    const QList<Failure> problems = m_model->problems();
    if (problems.isEmpty()) {
        m_status->hide();
        return;
    }
    QString text = QStringLiteral("第%1章：").arg(problems.first().chapter)
        + timeProblemText(problems.first(), m_options.format);
    if (problems.size() > 1)
        text += QStringLiteral("（共%1个章节的时间无效）").arg(problems.size());
    showStatus(text);
}

void PreviewPane::setComputation(Computation computation)
{
    m_computation = std::move(computation);
}

QByteArray PreviewPane::columnState() const
{
    return m_table->horizontalHeader()->saveState();
}

void PreviewPane::restoreColumnState(const QByteArray &state)
{
    m_table->horizontalHeader()->restoreState(state);
}

// The table's frame and header, and rows of text.
int PreviewPane::tableHeight(int rows) const
{
    return 2 * m_table->frameWidth() + m_table->horizontalHeader()->sizeHint().height()
        + rows * m_table->verticalHeader()->defaultSectionSize();
}

// The table with a line of words below it ("…" while a preview is computed).
int PreviewPane::tableAndLineHeight(int rows) const
{
    return tableHeight(rows) + layout()->spacing() + m_status->fontMetrics().height();
}

QSize PreviewPane::sizeHint() const
{
    const QHeaderView *columns = m_table->horizontalHeader();
    int width = 2 * m_table->frameWidth() + m_table->verticalScrollBar()->sizeHint().width()
        + m_table->fontMetrics().horizontalAdvance(u'中') * kHintedTitleCharacters;
    for (int column = 0; column < columns->count() - 1; ++column)
        width += columns->sectionSize(column);
    return {width, tableAndLineHeight(kHintedRows)};
}

QSize PreviewPane::minimumSizeHint() const
{
    return {m_table->minimumSizeHint().width(),
            tableAndLineHeight(kLeastRows) + m_table->horizontalScrollBar()->sizeHint().height()};
}

// The least height: the table's at its least, or the words in its place wrapped to the width.
int PreviewPane::heightForWidth(int width) const
{
    const int words = m_status->isHidden() ? 0 : m_status->heightForWidth(width);
    return std::max(minimumSizeHint().height(), m_table->isHidden() ? words : tableHeight(kLeastRows) + words);
}

void PreviewPane::startComputation()
{
    QThreadPool::globalInstance()->start(
        [requests = m_requests, request = m_request, path = m_path, options = m_options, compute = m_computation] {
            if (requests->latest != request)
                return;
            const Expected<FilePreview> result = compute(path, options);
            const QMutexLocker locker(&requests->mutex);
            if (PreviewPane *pane = requests->pane) {
                QMetaObject::invokeMethod(
                    pane, [pane, request, result] { pane->showResult(request, result); }, Qt::QueuedConnection);
            }
        });
}

void PreviewPane::showResult(quint64 request, const Expected<FilePreview> &result)
{
    if (request != m_request)
        return;
    if (!result) {
        m_model->setRows({});
        m_table->hide();
        showStatus(failureLine(result.error()));
    } else {
        m_model->setRows(result->rows, m_editedFiles != nullptr);
        m_table->show();
        const qsizetype unshown = result->chapters - result->rows.size();
        if (unshown > 0)
            showStatus(QStringLiteral("还有%1个章节未显示").arg(unshown));
        else
            m_status->hide();
    }
    emit previewShown();
}

void PreviewPane::showStatus(const QString &text)
{
    m_status->setText(text);
    m_status->show();
}

} // namespace Tessaline
