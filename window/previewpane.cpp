#include "previewpane.h"

#include "chaptertable.h"
#include "completionmessage.h"
#include "editedfile.h"
#include "previewmodel.h"

#include <QHeaderView>
#include <QLabel>
#include <QMutex>
#include <QMutexLocker>
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
    m_table->setAccessibleName(QStringLiteral("章节预览"));
    m_table->setAccessibleDescription(QStringLiteral("所选文件保存后的章节：序号、读取时间、写入时间和标题"));
    m_table->setModel(m_model);
    m_table->setSelectionBehavior(QAbstractItemView::SelectRows);
    m_table->setWordWrap(false);
    m_table->verticalHeader()->hide();
    m_table->horizontalHeader()->setStretchLastSection(true);

    m_status->setObjectName(QStringLiteral("previewStatus"));
    m_status->setAccessibleDescription(QStringLiteral("预览状态"));
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

// The table with a line of words below it ("…" while a preview is computed).
int PreviewPane::tableAndLineHeight() const
{
    return m_table->sizeHint().height() + layout()->spacing() + m_status->fontMetrics().height();
}

QSize PreviewPane::sizeHint() const
{
    return QWidget::sizeHint().expandedTo({m_table->sizeHint().width(), tableAndLineHeight()});
}

int PreviewPane::heightForWidth(int width) const
{
    return std::max(QWidget::heightForWidth(width), tableAndLineHeight());
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
