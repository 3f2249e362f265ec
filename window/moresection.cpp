#include "moresection.h"

#include "chapterchange.h"
#include "chaptertime.h"
#include "formats/outputformat.h"
#include "languagetag.h"
#include "previewpane.h"

#include <QButtonGroup>
#include <QComboBox>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QSpinBox>
#include <QVBoxLayout>

namespace Tessaline {

namespace {

// The rates offered in the lists, in frames per second; any p/q can be typed.
const QStringList kListedRates
    = {QStringLiteral("23.976"), QStringLiteral("24"),     QStringLiteral("25"),     QStringLiteral("29.97"),
       QStringLiteral("30"),     QStringLiteral("47.952"), QStringLiteral("48"),     QStringLiteral("50"),
       QStringLiteral("59.94"),  QStringLiteral("60"),     QStringLiteral("119.88"), QStringLiteral("120")};

constexpr int kFolderNameWidth = 220; // pixels of the chosen folder's path, elided in the middle

// What was typed, quoted as failures quote a line: a long paste does not make the reason, and
// the window that shows it, grow without end.
QString quoted(const QString &text)
{
    return u"“" + quotedLineStart(text) + u"”";
}

// Why a typed rate cannot retime; empty when it can.
QString rateProblem(const QString &caption, const QString &text)
{
    const std::optional<FrameRate> rate = parseFrameRate(text);
    if (!rate)
        return caption + u"：" + quoted(text) + u"不是帧率（如25、29.97或30000/1001）";
    if (!isWithinRateTerms(*rate))
        return caption + u"：" + quoted(text) + u"的数字超过" + QString::number(kLargestRateTerm);
    return {};
}

// An empty language field stands for "und", the undetermined language.
QString languageText(const QLineEdit *field)
{
    return field->text().isEmpty() ? QStringLiteral("und") : field->text();
}

} // namespace

MoreSection::MoreSection(QWidget *parent)
    : QWidget(parent), m_addFiles(new QPushButton(QStringLiteral("Add files…"), this)), m_rateFrom(rateBox("rateFrom")),
      m_rateTo(rateBox("rateTo")), m_offset(new QLineEdit(QStringLiteral("0"), this)),
      m_chooseVideo(new QPushButton(QStringLiteral("Keyframes from video…"), this)), m_video(new QLabel(this)),
      m_clearVideo(new QPushButton(QStringLiteral("Clear"), this)), m_format(new QComboBox(this)),
      m_language(new QLineEdit(QStringLiteral("und"), this)), m_edition(new QSpinBox(this)),
      m_title(new QSpinBox(this)), m_besideInput(new QRadioButton(QStringLiteral("Beside each file"), this)),
      m_inFolder(new QRadioButton(QStringLiteral("In folder"), this)),
      m_chooseFolder(new QPushButton(QStringLiteral("Choose…"), this)), m_folder(new QLabel(this)),
      m_preview(new PreviewPane(this)), m_chooseFolderDialog([](QWidget *parent, const QString &current) {
          return QFileDialog::getExistingDirectory(parent, QStringLiteral("Output folder"), current);
      }),
      m_chooseVideoDialog([](QWidget *parent, const QString &current) {
          return QFileDialog::getOpenFileName(parent, QStringLiteral("Keyframes from video"), current);
      })
{
    setObjectName(QStringLiteral("moreSection"));
    m_rateFrom->setCurrentText(QStringLiteral("30"));
    m_rateTo->setCurrentText(QStringLiteral("29.97"));
    m_offset->setObjectName(QStringLiteral("offset"));
    m_chooseVideo->setObjectName(QStringLiteral("snapKeyframes"));
    m_video->setObjectName(QStringLiteral("keyframesVideo"));
    m_video->setTextFormat(Qt::PlainText);
    m_clearVideo->setObjectName(QStringLiteral("clearKeyframes"));
    m_clearVideo->setEnabled(false);
    m_format->setObjectName(QStringLiteral("format"));
    for (const OutputFormat &format : outputFormats())
        m_format->addItem(format.caption.toString(), int(format.format));
    m_language->setObjectName(QStringLiteral("language"));
    m_language->setPlaceholderText(QStringLiteral("und"));
    m_language->setToolTip(QStringLiteral("An ISO 639 code or a tag such as zh-Hans-CN"));
    m_edition->setObjectName(QStringLiteral("edition"));
    m_edition->setRange(1, 999);
    m_edition->setToolTip(QStringLiteral("The edition of a Matroska file's chapters that is read"));
    m_title->setObjectName(QStringLiteral("title"));
    m_title->setRange(0, 99); // a title set holds at most 99 titles
    m_title->setSpecialValueText(QStringLiteral("longest"));
    m_title->setToolTip(QStringLiteral("The title of a DVD title set whose chapters are read"));
    m_preview->setObjectName(QStringLiteral("preview"));

    m_addFiles->setObjectName(QStringLiteral("addFiles"));
    m_addFiles->setAccessibleDescription(QStringLiteral("Add chapter files to the list (Ctrl+O)"));
    connect(m_addFiles, &QPushButton::clicked, this, &MoreSection::addFilesClicked);
    describeFields();

    // The fields keep their size as the window grows; the preview below takes what it gains.
    auto *form = new QFormLayout;
    form->setFieldGrowthPolicy(QFormLayout::FieldsStayAtSizeHint);
    m_fields = form;
    form->addRow(caption(QStringLiteral("Files:"), m_addFiles), inRow({m_addFiles}));
    form->addRow(caption(QStringLiteral("From (fps):"), m_rateFrom), inRow({m_rateFrom, problemMark(m_rateFrom)}));
    form->addRow(caption(QStringLiteral("To (fps):"), m_rateTo), inRow({m_rateTo, problemMark(m_rateTo)}));
    form->addRow(caption(QStringLiteral("Offset (ms):"), m_offset), inRow({m_offset, problemMark(m_offset)}));
    form->addRow(caption(QStringLiteral("Snap:"), m_chooseVideo), inRow({m_chooseVideo, m_video, m_clearVideo}));
    form->addRow(caption(QStringLiteral("Format:"), m_format), m_format);
    form->addRow(caption(QStringLiteral("Language:"), m_language), inRow({m_language, problemMark(m_language)}));
    form->addRow(caption(QStringLiteral("Edition:"), m_edition),
                 inRow({m_edition, caption(QStringLiteral("DVD title:"), m_title), m_title}));
    form->addRow(QStringLiteral("Output:"), destinationRows());
    auto *layout = new QVBoxLayout(this);
    layout->addLayout(form);
    layout->addWidget(m_preview, 1);

    connect(m_rateFrom, &QComboBox::currentTextChanged, this, &MoreSection::check);
    connect(m_rateTo, &QComboBox::currentTextChanged, this, &MoreSection::check);
    connect(m_offset, &QLineEdit::textChanged, this, &MoreSection::check);
    connect(m_format, &QComboBox::currentIndexChanged, this, &MoreSection::check);
    connect(m_language, &QLineEdit::textChanged, this, &MoreSection::check);
    for (QSpinBox *number : {m_edition, m_title})
        connect(number, &QSpinBox::valueChanged, this, &MoreSection::changed);
    connect(m_besideInput, &QRadioButton::toggled, this, &MoreSection::changed);
    connect(m_chooseFolder, &QPushButton::clicked, this, &MoreSection::chooseFolder);
    connect(m_chooseVideo, &QPushButton::clicked, this, &MoreSection::chooseVideo);
    connect(m_clearVideo, &QPushButton::clicked, this, &MoreSection::clearVideo);
    check();
}

void MoreSection::applyTo(ConvertOptions &options) const
{
    const std::optional<FrameRate> from = parseFrameRate(m_rateFrom->currentText());
    const std::optional<FrameRate> to = parseFrameRate(m_rateTo->currentText());
    if (from && to && isWithinRateTerms(*from) && isWithinRateTerms(*to))
        options.retiming = {*from, *to};
    options.offsetMs = parseOffsetMs(m_offset->text()).value_or(options.offsetMs);
    options.format = ChapterFormat(m_format->currentData().toInt());
    if (outputFormatOf(options.format).takesLanguage)
        options.language = canonicalLanguageTag(languageText(m_language)).value_or(options.language);
    options.read = {m_edition->value(), m_title->value()};
    if (m_inFolder->isChecked())
        options.outputFolder = m_outputFolder;
    options.snapKeyframes = m_videoPath;
}

QStringList MoreSection::problems() const
{
    return m_problems;
}

bool MoreSection::writesSimpleText() const
{
    return takesEncoding(outputFormatOf(ChapterFormat(m_format->currentData().toInt())));
}

void MoreSection::setRetiming(bool retiming)
{
    m_retiming = retiming;
    m_rateFrom->setEnabled(retiming);
    m_rateTo->setEnabled(retiming);
    check();
}

void MoreSection::setFolderChooser(FolderChooser chooser)
{
    m_chooseFolderDialog = std::move(chooser);
}

void MoreSection::setVideoChooser(FolderChooser chooser)
{
    m_chooseVideoDialog = std::move(chooser);
}

QComboBox *MoreSection::rateBox(const char *name)
{
    auto *box = new QComboBox(this);
    box->setObjectName(QString::fromLatin1(name));
    box->setEditable(true);
    box->setInsertPolicy(QComboBox::NoInsert); // a typed rate is used, not added to the list
    box->addItems(kListedRates);
    return box;
}

// The mark beside a field whose typed value is invalid; its tool tip says why.
QLabel *MoreSection::problemMark(QWidget *field)
{
    auto *mark = new QLabel(QStringLiteral("无效"), this);
    mark->setObjectName(field->objectName() + u"Problem");
    QPalette palette = mark->palette();
    palette.setColor(QPalette::WindowText, Qt::red);
    mark->setPalette(palette);
    // A field keeps its width whether or not it is marked.
    QSizePolicy policy = mark->sizePolicy();
    policy.setRetainSizeWhenHidden(true);
    mark->setSizePolicy(policy);
    mark->hide();
    return mark;
}

// A caption that names its field for a screen reader too (the label's buddy, a sibling of the
// field: the field's "labelled by" relation).
QLabel *MoreSection::caption(const QString &text, QWidget *field)
{
    auto *label = new QLabel(text, this);
    label->setBuddy(field);
    return label;
}

// The widgets side by side, left-aligned. A layout, not a widget of its own, keeps each field a
// sibling of its caption.
QHBoxLayout *MoreSection::inRow(std::initializer_list<QWidget *> widgets)
{
    auto *layout = new QHBoxLayout;
    for (QWidget *widget : widgets)
        layout->addWidget(widget);
    layout->addStretch();
    return layout;
}

// Each field's name is its caption; a field whose value is invalid says so, and why, in its
// description (check()).
void MoreSection::describeFields()
{
    m_rateFrom->setAccessibleName(QStringLiteral("From (fps)"));
    m_rateFrom->setAccessibleDescription(QStringLiteral("The frame rate the chapters' times are in"));
    m_rateTo->setAccessibleName(QStringLiteral("To (fps)"));
    m_rateTo->setAccessibleDescription(QStringLiteral("The frame rate to retime them to"));
    m_offset->setAccessibleName(QStringLiteral("Offset (ms)"));
    m_offset->setAccessibleDescription(QStringLiteral("Milliseconds added to every time, negative allowed"));
    m_format->setAccessibleName(QStringLiteral("Format"));
    m_format->setAccessibleDescription(QStringLiteral("The format the outputs are written in"));
    m_language->setAccessibleName(QStringLiteral("Language"));
    m_language->setAccessibleDescription(QStringLiteral("The Matroska titles' language"));
    m_edition->setAccessibleName(QStringLiteral("Matroska edition"));
    m_title->setAccessibleName(QStringLiteral("DVD title"));
    m_title->setAccessibleDescription(QStringLiteral("0 for the longest"));
    m_besideInput->setAccessibleDescription(QStringLiteral("Write each output beside its file"));
    m_inFolder->setAccessibleDescription(QStringLiteral("Write the outputs into the chosen folder"));
    m_chooseFolder->setAccessibleDescription(QStringLiteral("Choose the output folder"));
    m_folder->setAccessibleName(QStringLiteral("Output folder"));
    m_chooseVideo->setAccessibleDescription(QStringLiteral("Snap the chapters to the keyframes of a video"));
    m_video->setAccessibleName(QStringLiteral("Keyframes video"));
    m_clearVideo->setAccessibleName(QStringLiteral("Clear the keyframes video"));
    m_clearVideo->setAccessibleDescription(QStringLiteral("Leave the chapters where they are"));
    // An editable list's or a number box's text field is a control of its own to a screen reader.
    for (QWidget *field : std::initializer_list<QWidget *> {m_rateFrom, m_rateTo, m_edition, m_title})
        field->findChild<QLineEdit *>()->setAccessibleName(field->accessibleName());
    for (QWidget *field : std::initializer_list<QWidget *> {m_rateFrom, m_rateTo, m_offset, m_language})
        m_validDescriptions.insert(field, field->accessibleDescription());
}

// The field's description: what it is for, or, while its value is invalid, "无效" and why. An
// editable list's text field says the same.
void MoreSection::describeValidity(QWidget *field, const QString &problem)
{
    const QString description = problem.isEmpty() ? m_validDescriptions.value(field) : u"无效：" + problem;
    field->setAccessibleDescription(description);
    if (auto *box = qobject_cast<QComboBox *>(field))
        box->lineEdit()->setAccessibleDescription(description);
}

// "Beside each file" or "In folder" with the chosen folder; "In folder" can be picked once a
// folder has been chosen.
QVBoxLayout *MoreSection::destinationRows()
{
    m_besideInput->setObjectName(QStringLiteral("besideInput"));
    m_inFolder->setObjectName(QStringLiteral("inFolder"));
    m_chooseFolder->setObjectName(QStringLiteral("chooseFolder"));
    m_folder->setObjectName(QStringLiteral("folder"));
    m_folder->setTextFormat(Qt::PlainText);
    auto *group = new QButtonGroup(this);
    group->addButton(m_besideInput);
    group->addButton(m_inFolder);
    m_besideInput->setChecked(true);
    m_inFolder->setEnabled(false);

    auto *layout = new QVBoxLayout;
    layout->addWidget(m_besideInput);
    layout->addLayout(inRow({m_inFolder, m_chooseFolder}));
    layout->addWidget(m_folder);
    return layout;
}

// A video whose keyframes the chapters snap to; its name is shown, its path in the tool tip.
void MoreSection::chooseVideo()
{
    const QString video = m_chooseVideoDialog(this, m_videoPath);
    if (video.isEmpty())
        return;
    m_videoPath = video;
    const QString shown = QDir::toNativeSeparators(video);
    m_video->setText(m_video->fontMetrics().elidedText(QFileInfo(video).fileName(), Qt::ElideMiddle, kFolderNameWidth));
    m_video->setToolTip(shown);
    m_clearVideo->setEnabled(true);
    emit changed();
}

void MoreSection::clearVideo()
{
    m_videoPath.clear();
    m_video->clear();
    m_video->setToolTip({});
    m_clearVideo->setEnabled(false);
    emit changed();
}

void MoreSection::chooseFolder()
{
    const QString folder = m_chooseFolderDialog(this, m_outputFolder);
    if (folder.isEmpty())
        return;
    m_outputFolder = folder;
    const QString shown = QDir::toNativeSeparators(folder);
    m_folder->setText(m_folder->fontMetrics().elidedText(shown, Qt::ElideMiddle, kFolderNameWidth));
    m_folder->setToolTip(shown);
    m_inFolder->setEnabled(true);
    m_inFolder->setChecked(true);
    emit changed();
}

// Marks each field whose value is invalid, the reason in the mark's tool tip. The rates are
// checked only while they retime, the language only for the formats that take one.
void MoreSection::check()
{
    const bool takesLanguage = outputFormatOf(ChapterFormat(m_format->currentData().toInt())).takesLanguage;
    m_language->setEnabled(takesLanguage);
    const QString offsetProblem = parseOffsetMs(m_offset->text()) ? QString()
                                                                  : u"偏移：" + quoted(m_offset->text()) + u"不是−"
            + QString::number(kLargestOffsetMs) + u"到" + QString::number(kLargestOffsetMs) + u"之间的整数毫秒";
    const QString languageProblem = !takesLanguage || canonicalLanguageTag(languageText(m_language))
        ? QString()
        : u"语言：" + quoted(m_language->text()) + u"不是ISO 639代码或zh-Hans-CN这样的标记";
    const std::pair<QWidget *, QString> checked[] = {
        {m_rateFrom, m_retiming ? rateProblem(QStringLiteral("原帧率"), m_rateFrom->currentText()) : QString()},
        {m_rateTo, m_retiming ? rateProblem(QStringLiteral("目标帧率"), m_rateTo->currentText()) : QString()},
        {m_offset, offsetProblem},
        {m_language, languageProblem},
    };
    m_problems.clear();
    for (const auto &[field, problem] : checked) {
        auto *mark = findChild<QLabel *>(field->objectName() + u"Problem");
        mark->setToolTip(problem);
        mark->setVisible(!problem.isEmpty());
        describeValidity(field, problem);
        if (!problem.isEmpty())
            m_problems.append(problem);
    }
    emit changed();
}

// The fields at their size, whatever the preview's least width.
QSize MoreSection::minimumSizeHint() const
{
    const QMargins margins = layout()->contentsMargins();
    return QWidget::minimumSizeHint().expandedTo({m_fields->sizeHint().width() + margins.left() + margins.right(), 0});
}

CompletionMessage refusalMessage(const QStringList &problems)
{
    return {QStringLiteral("未能转换"), problems.join(u'\n') + u"\n未转换任何文件", true};
}

} // namespace Tessaline
