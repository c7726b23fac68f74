#include "ConsoleApp.h"

#include "AboutDlg.h"
#include "GangDlg.h"

#include "EndSignals.h"

#include "MainConsoleDlg.h"
#include "Resources.h"
#include "Application.h"
#include "MessageBox.h"

#include <QCoreApplication>

#include <cstdlib>
#include <memory>

namespace {

// The console while it runs, for a program end that bypasses its window.
CMainConsoleDlg* g_running = nullptr;

// A lost display ends the program through exit() from inside the event
// loop: the settings are saved on the way out as by Exit.
extern "C" void SaveOnProgramExit()
{
    if (g_running)
        g_running->SaveWithoutOperator();
}

}  // namespace

CConsoleApp::CConsoleApp() = default;

CConsoleApp::~CConsoleApp() = default;

bool CConsoleApp::StartUp()
{
    Enable3dControls();
    // Settings live under <company>/<application name>; the application name
    // is the program file's base name, which Qt takes from argv[0].
    QCoreApplication::setOrganizationName(QString::fromStdString(LoadString(IDS_COMPANY)));

    // corvantis --gang: the gang window alone, on the station's lock.
    if (QCoreApplication::arguments().contains(QStringLiteral("--gang"))) {
        RunGangWindow(nullptr, true);
        return false;
    }
    auto console = std::make_unique<CMainConsoleDlg>(nullptr);
    if (!console->TakeStationLock())
        return false;
    console->SetAboutBox(OpenAboutBox);
    console->SetGangWindow([](QWidget* owner) { RunGangWindow(owner, false); });
    const CEndSignals endSignals([&console](int) { console->EndWithoutOperator(); });
    static const bool atExit = std::atexit(SaveOnProgramExit) == 0;
    (void)atExit;
    g_running = console.get();
    console->DoModal();
    g_running = nullptr;
    return false;
}
