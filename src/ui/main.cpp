// The program entry of the tray program: no command line, no window at start (unless the
// desktop has no notification area); the main window runs the show until its exit entry.

#include "ui/Icons/ImageOps.h"
#include "ui/Main/MainWindow.h"

#include <QApplication>
#include <QIcon>
#include <QPixmap>

int main(int Argc, char** Argv)
{
    QApplication App(Argc, Argv);
    QApplication::setApplicationName(QStringLiteral("PlumeriaBridge"));
    QApplication::setQuitOnLastWindowClosed(false);
    QApplication::setWindowIcon(
        QIcon(QPixmap::fromImage(Plumeria::LoadPicture(QStringLiteral("SCALES")))));

    Plumeria::TfrmMain Main;
    if (Main.EndRequested())
        return 0;
    QObject::connect(&Main, &Plumeria::TfrmMain::Ended, &App, &QCoreApplication::quit,
                     Qt::QueuedConnection);
    return App.exec();
}
