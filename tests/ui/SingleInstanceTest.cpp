// One instance per session: a second start waits for the lock, then reports and ends without
// disturbing the first; a second start right after the first let go takes over. The first
// instance is the real program, started in the same sandbox.

#include "UiSandbox.h"

#include "core/Settings/Settings.h"
#include "platform/SingleInstance.h"
#include "ui/Common/MessageBox.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QMessageBox>
#include <QProcess>
#include <QTest>
#include <QTimer>

#include <chrono>
#include <thread>

#ifdef Q_OS_UNIX
#include <signal.h>
#endif

using namespace Plumeria;
using namespace Plumeria::Test;

namespace {

int CountOf(const std::string& Text, const std::string& Part)
{
    int Count = 0;
    for (auto At = Text.find(Part); At != std::string::npos; At = Text.find(Part, At + 1))
        ++Count;
    return Count;
}

// Settings that keep the program off the network and out of the session's start-up entries.
void WriteQuietSettings()
{
    TLoaderSettings Settings;
    Settings.AutoUpdate = false;
    Settings.RunWithWindows = false;
    Settings.Save();
}

// Starts the program in the sandbox and waits until it holds the lock (it journals its start
// right after taking it).
bool StartFirstInstance(QProcess& Program)
{
    QProcessEnvironment Env = QProcessEnvironment::systemEnvironment();
#ifdef Q_OS_WIN
    // The Windows program carries only the Windows platform, which needs no display server.
    Env.remove(QStringLiteral("QT_QPA_PLATFORM"));
#else
    Env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
#endif
    Program.setProcessEnvironment(Env);
    Program.setProgram(QStringLiteral(PLUMERIA_UI_PROGRAM_PATH));
    Program.start();
    if (!Program.waitForStarted(10000))
        return false;
    QElapsedTimer Waited;
    Waited.start();
    while (Waited.elapsed() < 20000) {
        if (JournalText().find("started 1.0.3") != std::string::npos)
            return true;
        if (Program.state() != QProcess::Running)
            return false;
        QTest::qWait(50);
    }
    return false;
}

void Stop(QProcess& Program)
{
    if (Program.state() != QProcess::NotRunning) {
        Program.kill();
        Program.waitForFinished(10000);
    }
}

} // namespace

class TSingleInstanceTest : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void ASecondStartWaitsThenReportsAndEnds()
    {
        TUiSandbox Box;
        WriteQuietSettings();
        QProcess First;
        QVERIFY(StartFirstInstance(First));

        // The box is really shown, so that its title is read as the desktop shows it; it is
        // answered as soon as it is up.
        struct TSeenBox
        {
            QString Title, Text;
            QMessageBox::Icon Icon = QMessageBox::NoIcon;
            bool HadOwner = true;
        };
        std::vector<TSeenBox> Seen;
        QTimer Answerer;
        QObject::connect(&Answerer, &QTimer::timeout, &Answerer, [&Seen] {
            auto* Shown = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
            if (Shown == nullptr || !Shown->isVisible())
                return;
            Seen.push_back({ShownTitle(*Shown), Shown->text(), Shown->icon(),
                            Shown->parentWidget() != nullptr});
            Shown->accept();
        });
        Answerer.start(20);
        QElapsedTimer Waited;
        Waited.start();
        {
            TfrmMain Second(Box.Options());
            // It gave the running instance the full five seconds to let go.
            QVERIFY2(Waited.elapsed() >= 4500, qPrintable(QString::number(Waited.elapsed())));
            QVERIFY(Second.EndRequested());
            QVERIFY(Second.Tray() == nullptr);
            QVERIFY(Second.Watch() == nullptr);
        }
        Answerer.stop();
        QCOMPARE(Seen.size(), std::size_t(1));
        QCOMPARE(Seen[0].Title, QStringLiteral("PlumeriaBridge"));
        QCOMPARE(Seen[0].Text, QStringLiteral("PlumeriaBridge is already running."));
        QVERIFY(Seen[0].Icon == QMessageBox::Information);
        QVERIFY(!Seen[0].HadOwner);
        // Nothing of the start-up ran, and the first instance is undisturbed.
        QCOMPARE(CountOf(JournalText(), "started 1.0.3"), 1);
        QCOMPARE(Box.UpdateChecks.size(), std::size_t(0));
        QCOMPARE(First.state(), QProcess::Running);
        Stop(First);
    }

    void TheTrayProgramRefusesWhilePlumeriaRunWatchesTheSameData()
    {
        TUiSandbox Box;
        WriteQuietSettings();
        QProcess Run;
        Run.setProgram(QStringLiteral(PLUMERIA_TOOL_PROGRAM_PATH));
        Run.setArguments({QStringLiteral("run")});
        Run.start();
        QVERIFY(Run.waitForStarted(10000));
        QElapsedTimer Waited;
        Waited.start();
        while (!Run.readAllStandardOutput().contains("watching ") && Waited.elapsed() < 20000)
            Run.waitForReadyRead(100);

        PresetMessageAnswer(QMessageBox::Ok);
        {
            TfrmMain Tray(Box.Options());
            QVERIFY(Tray.EndRequested());
            QVERIFY(Tray.Watch() == nullptr);
        }
        const std::vector<TShownMessage> Shown = TakeShownMessages();
        QCOMPARE(Shown.size(), std::size_t(1));
        QCOMPARE(Shown[0].Text, QStringLiteral("PlumeriaBridge is already running."));
        QCOMPARE(Box.UpdateChecks.size(), std::size_t(0));
        QCOMPARE(Run.state(), QProcess::Running);
        Stop(Run);

        // With the run gone, the tray program starts and watches.
        TfrmMain Tray(Box.Options());
        QVERIFY(!Tray.EndRequested());
        QVERIFY(Tray.Watch() != nullptr);
        // And a run beside the tray program refuses in turn.
        QProcess Beside;
        Beside.start(QStringLiteral(PLUMERIA_TOOL_PROGRAM_PATH), {QStringLiteral("run")});
        QVERIFY(Beside.waitForFinished(10000));
        QCOMPARE(Beside.exitCode(), 2);
        QVERIFY(Beside.readAllStandardError().contains("another program is already watching"));
    }

    void AnUndoneUpdateThatLostTheWatchLockDoesNotWatchAndSaysSo()
    {
        // An update lets the locks go while the new program starts; when it is undone, a
        // `plumeria run` may have taken the data folder meanwhile.
        TUiSandbox Box;
        WriteQuietSettings();
        QProcess Run;
        TMainOptions Options = Box.Options();
        Options.CheckForUpdate = [&Run](bool) {
            ReleaseDataFolderLock();
            Run.start(QStringLiteral(PLUMERIA_TOOL_PROGRAM_PATH), {QStringLiteral("run")});
            if (!Run.waitForStarted(10000))
                return false;
            QElapsedTimer Waited;
            Waited.start();
            while (!Run.readAllStandardOutput().contains("watching ") && Waited.elapsed() < 20000)
                Run.waitForReadyRead(100);
            return false;
        };
        PresetMessageAnswer(QMessageBox::Ok);
        {
            TfrmMain Tray(Options);
            QVERIFY(Tray.EndRequested());
            QVERIFY(Tray.Watch() == nullptr);
        }
        const std::vector<TShownMessage> Shown = TakeShownMessages();
        QCOMPARE(Shown.size(), std::size_t(1));
        QCOMPARE(Shown[0].Text, QStringLiteral("PlumeriaBridge is already running."));
        QCOMPARE(Run.state(), QProcess::Running);
        Stop(Run);
    }

    void ASecondStartRightAfterTheFirstLetGoTakesOver()
    {
#ifndef Q_OS_UNIX
        QSKIP("ends the first instance with a signal");
#else
        TUiSandbox Box;
        WriteQuietSettings();
        QProcess First;
        QVERIFY(StartFirstInstance(First));
        const qint64 Pid = First.processId();
        // The first instance ends a second into the second one's wait.
        std::thread Ender([Pid] {
            std::this_thread::sleep_for(std::chrono::milliseconds(1000));
            ::kill(static_cast<pid_t>(Pid), SIGTERM);
        });
        {
            TfrmMain Second(Box.Options());
            Ender.join();
            QVERIFY(!Second.EndRequested());
            QVERIFY(Second.Watch() != nullptr);
        }
        QCOMPARE(TakeShownMessages().size(), std::size_t(0));
        QCOMPARE(CountOf(JournalText(), "started 1.0.3"), 2);
        First.waitForFinished(10000);
        Stop(First);
#endif
    }
};

QTEST_MAIN(TSingleInstanceTest)
#include "SingleInstanceTest.moc"
