#include "language.h"
#include "mainwindow.h"

#include <QApplication>

// The program's entry. On Windows, Qt's WinMain shim splits the command line and calls main().
int qMain(int argc, char **argv)
{
    QApplication app(argc, argv);
    Language::install(&app);
    MainWindow window;
    window.show();
    return app.exec();
}

int main(int argc, char **argv)
{
    return qMain(argc, argv);
}
