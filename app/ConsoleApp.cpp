#include "ConsoleApp.h"

#include "console/MainConsoleDlg.h"
#include "resources/Resources.h"
#include "toolkit/Application.h"

#include <QCoreApplication>

#include <memory>

CConsoleApp::CConsoleApp() = default;

CConsoleApp::~CConsoleApp() = default;

bool CConsoleApp::StartUp()
{
    Enable3dControls();
    // Settings live under <company>/<application name>; the application name
    // is the program file's base name, which Qt takes from argv[0].
    QCoreApplication::setOrganizationName(QString::fromStdString(LoadString(IDS_COMPANY)));
    {
        auto console = std::make_unique<CMainConsoleDlg>(nullptr);
        console->DoModal();
    }
    return false;
}
