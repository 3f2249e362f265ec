#include "form1.h"

#include <QApplication>

#include <clocale>

#ifdef TESSALINE_FONTCONFIG
#include <fontconfig/fontconfig.h>

#include <thread>
#endif

int main(int argc, char *argv[])
{
    // The ANSI code page of chapter files follows the user's locale; set it before anything
    // reads it.
    std::setlocale(LC_ALL, "");

#ifdef TESSALINE_FONTCONFIG
    // Reading the font configuration (about 15 ms) is needed before the window's first paint, as
    // is connecting to the display; they are independent, so they go on side by side. Qt's own
    // FcInit() then finds the configuration loaded.
    std::thread fontConfiguration([] { FcInit(); });
#endif
    QApplication app(argc, argv);
#ifdef TESSALINE_FONTCONFIG
    fontConfiguration.join();
#endif
    QGuiApplication::setDesktopFileName(QStringLiteral("tessaline"));

    Tessaline::Form1 form;
    form.show();
    return app.exec();
}
