#include "form1.h"

#include <QApplication>

#include <clocale>

int main(int argc, char *argv[])
{
    // The ANSI code page of chapter files follows the user's locale; set it before anything
    // reads it.
    std::setlocale(LC_ALL, "");

    QApplication app(argc, argv);
    QGuiApplication::setDesktopFileName(QStringLiteral("tessaline"));

    Tessaline::Form1 form;
    form.show();
    return app.exec();
}
