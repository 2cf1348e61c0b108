// The program entry of the tray program: no command line, no window at start (unless the
// desktop has no notification area); the main window runs the show until its exit entry.

#include "core/Journal/Journal.h"
#include "platform/CommandLine.h"
#include "ui/Common/QtTranslation.h"
#include "ui/Icons/ImageOps.h"
#include "ui/Main/MainWindow.h"

#include <QApplication>
#include <QIcon>
#include <QPixmap>

namespace {

/// The program's run between the set-up of the process and the journal's end.
int RunProgram(int Argc, char** Argv)
{
    QApplication App(Argc, Argv);
    Plumeria::InstallQtTranslation(App);
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

} // namespace

int main(int Argc, char** Argv)
{
    Plumeria::GuardStandardDescriptors();
    const int Code = RunProgram(Argc, Argv);
    // Everything that journals has ended with the windows and the watch thread.
    Plumeria::ShutdownJournal();
    return Code;
}
