// The reference for start-up time: a bare Qt Widgets window, as a minimal main shows it.

#include <QApplication>
#include <QWidget>

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    QWidget window;
    window.setWindowTitle(QStringLiteral("Bare window"));
    window.show();
    return app.exec();
}
