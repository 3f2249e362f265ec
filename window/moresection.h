#pragma once

#include "completionmessage.h"
#include "convertoptions.h"

#include <QHash>
#include <QWidget>

#include <functional>

class QAbstractButton;
class QComboBox;
class QFormLayout;
class QHBoxLayout;
class QLabel;
class QLineEdit;
class QPushButton;
class QRadioButton;
class QSpinBox;
class QVBoxLayout;

namespace Tessaline {

class PreviewPane;

// The window's "More" section: the settings of a conversion that the original controls do not
// reach, and at its bottom the preview of the selected file. The rates retime when
// "30FPS->29.97FPS" is ticked; an offset in milliseconds; the output format; the Matroska
// titles' language; which edition of a Matroska file and which title of a DVD is read; outputs
// beside each file or in a chosen folder; a video whose keyframes the chapters are snapped to,
// which can be cleared. Typed values are checked as
// the command line checks them; an invalid one is marked beside its field (object name of the
// field plus "Problem"), and the field's accessible description says why; it is never replaced
// by another. Each field is labelled by its caption. Object names: addFiles, rateFrom,
// rateTo, offset, snapKeyframes, keyframesVideo, clearKeyframes, format, language, edition, title,
// besideInput, inFolder, chooseFolder, folder, preview.
class MoreSection : public QWidget
{
    Q_OBJECT

public:
    explicit MoreSection(QWidget *parent = nullptr);

    // Sets in options what the section's fields say. A field whose typed value is invalid leaves
    // its option as it was (problems() says so).
    void applyTo(ConvertOptions &options) const;

    // One line per field whose typed value is invalid, in Chinese, naming the field and the
    // value; empty when every field is valid.
    QStringList problems() const;

    // Whether "ANSI" and "Unicode" apply to the output format (takesEncoding): simple text's.
    bool writesSimpleText() const;

    // The rates are used only while the window retimes.
    void setRetiming(bool retiming);

    PreviewPane *preview() const { return m_preview; }

    // At least as wide as the fields at their size hint, and as high as they are and the
    // preview at its least; the preview takes any room beyond.
    QSize minimumSizeHint() const override;

    // Asks for the output folder, starting at current; an empty result leaves the choice as it
    // was. The default is QFileDialog::getExistingDirectory; tests install their own.
    using FolderChooser = std::function<QString(QWidget *parent, const QString &current)>;
    void setFolderChooser(FolderChooser chooser);

    // Asks for the video to snap to, starting at the current one; an empty result leaves the
    // choice as it was. The default is QFileDialog::getOpenFileName.
    void setVideoChooser(FolderChooser chooser);

signals:
    // "Add files…" was pressed; the window asks for the files.
    void addFilesClicked();
    // A field's value, valid or not, has changed.
    void changed();

private:
    QComboBox *rateBox(const char *name);
    QLabel *problemMark(QWidget *field);
    QLabel *caption(const QString &text, QWidget *field);
    QHBoxLayout *inRow(std::initializer_list<QWidget *> widgets);
    QVBoxLayout *destinationRows();
    void describeFields();
    void describeValidity(QWidget *field, const QString &problem);
    void chooseFolder();
    void chooseVideo();
    void clearVideo();
    void check();

    QFormLayout *m_fields = nullptr; // the rows above the preview
    QPushButton *m_addFiles; // first: the fields follow it in the Tab order
    QComboBox *m_rateFrom;
    QComboBox *m_rateTo;
    QLineEdit *m_offset;
    QPushButton *m_chooseVideo;
    QLabel *m_video;
    QPushButton *m_clearVideo;
    QString m_videoPath; // whose keyframes the chapters are snapped to; empty: none
    QComboBox *m_format;
    QLineEdit *m_language;
    QSpinBox *m_edition; // from 1
    QSpinBox *m_title; // from 1; 0: the longest
    QRadioButton *m_besideInput;
    QRadioButton *m_inFolder;
    QPushButton *m_chooseFolder;
    QLabel *m_folder;
    QString m_outputFolder; // chosen; empty until a folder is chosen
    bool m_retiming = true; // "30FPS->29.97FPS" is ticked
    QStringList m_problems; // of the fields' values as last checked
    QHash<const QWidget *, QString> m_validDescriptions; // of the checked fields, while valid
    PreviewPane *m_preview;
    FolderChooser m_chooseFolderDialog;
    FolderChooser m_chooseVideoDialog;
};

// The message that refuses "Save" while fields hold invalid values, in the completion message's
// style: a warning that lists the problems and says that nothing was converted.
CompletionMessage refusalMessage(const QStringList &problems);

} // namespace Tessaline
