// corvantis-run: the station for scripts and automated test stations.
#include "RunTool.h"

#include <QCoreApplication>

#include <signal.h>

#include <cstdio>

namespace {

std::atomic<bool> g_stop{false};

extern "C" void RequestStop(int) { g_stop = true; }

}  // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    // The station's own settings, lock and record: the window's names, not
    // this program's.
    QCoreApplication::setOrganizationName(QStringLiteral("Quillfern"));
    QCoreApplication::setApplicationName(QStringLiteral("Corvantis"));
    // SIGINT and SIGTERM let the library call in progress finish (system
    // calls restart), then the unit stops at its next step and the port is
    // released.
    struct sigaction action {};
    action.sa_handler = RequestStop;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);
    QStringList arguments = QCoreApplication::arguments();
    arguments.removeFirst();
    return RunStationCommand(arguments, g_stop, stdout, stderr);
}
