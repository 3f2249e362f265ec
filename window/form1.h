#pragma once

#include "conversion.h"

#include <QStringList>
#include <QWidget>

#include <functional>

class QCheckBox;
class QListWidget;
class QMessageBox;
class QPlainTextEdit;
class QPushButton;
class QRadioButton;

namespace Tessaline {

// The program's one window: the file list, the names box, the two options, the choice of output
// encoding and "Save", at fixed positions. Controls carry their designer names as object names:
// lstFiles, Text1, Check1, Check2, Option1_0 ("ANSI"), Option1_1 ("Unicode") and Command1.
class Form1 : public QWidget
{
    Q_OBJECT

public:
    explicit Form1(QWidget *parent = nullptr);
    ~Form1() override;

    // A snapshot of the options the controls stand for, as "Save" hands them to the conversion.
    ConvertOptions options() const;

    // The entries of the file list, in list order.
    QStringList files() const;

    // Shows the completion message of a run. The default runs the box modally (exec()); tests
    // install their own to read the box and close it.
    using MessageBoxPresenter = std::function<void(QMessageBox &box)>;
    void setMessageBoxPresenter(MessageBoxPresenter presenter);

private:
    void placeControls();
    void setInitialState();
    void save();

    QListWidget *m_lstFiles;
    QCheckBox *m_check1;
    QCheckBox *m_check2;
    QPushButton *m_command1;
    QRadioButton *m_option1Ansi;
    QRadioButton *m_option1Unicode;
    QPlainTextEdit *m_text1;
    MessageBoxPresenter m_presentMessageBox;
};

} // namespace Tessaline
