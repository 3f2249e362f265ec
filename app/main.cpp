#include "droppedfiles.h"
#include "form1.h"
#include "processend.h"
#include "windowlanguage.h"

#include <QApplication>
#include <QCommandLineParser>

#include <cstdio>

#ifdef TESSALINE_FONTCONFIG
#include <fontconfig/fontconfig.h>

#include <thread>
#endif

namespace {

// The window, with the files named on the command line listed; the event loop's status.
int runWindow(int &argc, char **argv)
{
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
    QGuiApplication::setDesktopFileName(QStringLiteral("io.github.tessaline.Tessaline"));
    Tessaline::installWindowTranslator();

    Tessaline::Form1 form;
    // QApplication has taken its own options (-style, -platform ...) out of argv and arguments().
#ifdef Q_OS_WIN
    form.addFiles(Tessaline::commandLinePaths(QCoreApplication::arguments()));
#else
    form.addFiles(Tessaline::commandLinePaths(argc, argv));
#endif
    form.show();
    return app.exec();
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication::setApplicationName(QStringLiteral("tessaline"));
    // QSettings' place for the window's open size: ~/.config/tessaline/tessaline.conf on Linux,
    // HKEY_CURRENT_USER\Software\tessaline\tessaline on Windows.
    QCoreApplication::setOrganizationName(QStringLiteral("tessaline"));
    QCoreApplication::setApplicationVersion(QStringLiteral(TESSALINE_VERSION));

    QCommandLineParser parser;
    parser.setApplicationDescription(
        QStringLiteral("Opens a window that converts chapter lists from 30 fps to 29.97 fps timing, each\n"
                       "FILE.txt into FILE_new.txt beside it. Files are dropped onto the window, added\n"
                       "with \"Add files...\" (Ctrl+O), or named as FILE arguments, which are listed at\n"
                       "start: simple chapter lists (.txt), Matroska, MP4, Blu-ray playlists, DVD IFO,\n"
                       "Matroska XML, ffmetadata, CUE, WebVTT and timestamp lists."));
    const QCommandLineOption helpOption({QStringLiteral("h"), QStringLiteral("help")},
                                        QStringLiteral("Show this help and exit."));
    const QCommandLineOption versionOption(QStringLiteral("version"), QStringLiteral("Show the version and exit."));
    parser.addOptions({helpOption, versionOption});
    parser.addPositionalArgument(QStringLiteral("FILE"), QStringLiteral("A chapter file to list at start."),
                                 QStringLiteral("[FILE...]"));
    // Qt's own options are single-dash words (-stylesheet), not bundles of letters with an h.
    parser.setSingleDashWordOptionMode(QCommandLineParser::ParseAsLongOptions);

    // --help and --version are answered without a QApplication, which would need a display.
    // Anything else is left to Qt (-style, -platform, ...), which ignores what it does not know.
    QStringList arguments;
    for (int i = 0; i < argc; ++i)
        arguments.append(QString::fromLocal8Bit(argv[i]));
    parser.parse(arguments);
    if (parser.isSet(helpOption) || parser.isSet(versionOption)) {
        QCoreApplication app(argc, argv); // for the program name in the usage line
        const QString text = parser.isSet(helpOption)
            ? parser.helpText()
            : QCoreApplication::applicationName() + u' ' + QCoreApplication::applicationVersion() + u'\n';
        std::fputs(text.toLocal8Bit().constData(), stdout);
        return 0;
    }

    Tessaline::endProcess(runWindow(argc, argv));
}
