// The floor for start-up time of a window with text: a Qt Widgets window showing one label, as a
// minimal main shows it.

#include <QApplication>
#include <QLabel>

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    QLabel window(QStringLiteral("Chapter files"));
    window.setWindowTitle(QStringLiteral("Label window"));
    window.show();
    return app.exec();
}
