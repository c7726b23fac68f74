// The station as the drills run it: the real start-up (CConsoleApp), the
// console against libVELK430.so, offscreen, every message box recorded and
// printed instead of shown. A timer plays the operator:
//   corv_drill_station UNITS   press Run Batch until the simulator's tray
//                              holds UNITS units, then Exit
// CORV_DRILL_PATIENT=1 (a line whose server goes away): a box or a failed
// batch is counted as a refusal and the operator presses again.
// Exit status: 0 done; 2 usage; 3 the console never came up; 4 a box was
// shown or a batch failed; 5 the run did not advance.
#include "ConsoleApp.h"
#include "ConsoleProbe.h"
#include "CriticalError.h"
#include "Resources.h"
#include "MessageBox.h"

#include "SimStore.h"

#include <QApplication>
#include <QLabel>
#include <QPushButton>
#include <QTimer>

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <cstdlib>
#include <string>

namespace {

CMainConsoleDlg* FindConsole()
{
    for (QWidget* w : QApplication::topLevelWidgets())
        if (auto* console = dynamic_cast<CMainConsoleDlg*>(w); console && console->isVisible())
            return console;
    return nullptr;
}

}  // namespace

int main(int argc, char** argv)
{
    char* end = nullptr;
    const long units = argc == 2 ? std::strtol(argv[1], &end, 10) : -1;
    if (units < 0 || !end || *end) {
        std::fprintf(stderr, "usage: corv_drill_station UNITS\n");
        return 2;
    }
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Corvantis"));
    InitResources();
    SetCriticalErrorHook(CriticalBox);

    int status = 3;
    const bool patient = qEnvironmentVariableIntValue("CORV_DRILL_PATIENT") == 1;
    long refusals = 0;
    CMessageBoxRecorder boxes;
    boxes.OnShow = [&](const CMessageBoxRecorder::Box& box) {
        std::fprintf(stderr, "box: %s\n", box.text.c_str());
        if (patient)
            ++refusals;
        else
            status = 4;
    };

    // Units already in the tray: one line each.
    const velk::CSimStore sim(velk::CSimStore::DefaultDir());
    std::ifstream tray(sim.TrayPath(), std::ios::binary);
    const long before = static_cast<long>(
        std::count(std::istreambuf_iterator<char>(tray), std::istreambuf_iterator<char>(), '\n'));
    long passes = 0;
    long presses = 0;
    QTimer operatorHand;
    QObject::connect(&operatorHand, &QTimer::timeout, [&] {
        CMainConsoleDlg* console = FindConsole();
        if (!console)
            return;
        if (status == 3)
            status = 0;
        // A failed batch or a box ends the run: the drill must not hide one.
        if (status != 0 || before + passes >= units || presses > (patient ? 1000 : 2) * units + 10) {
            if (status == 0 && before + passes < units)
                status = 5;
            operatorHand.stop();
            console->GetDlgItemAs<QPushButton>(IDC_EXIT)->click();
            return;
        }
        console->GetDlgItemAs<QPushButton>(IDC_RUN_BATCH)->click();
        ++presses;
        if (CConsoleProbe::Picture(*console) == "pass")
            ++passes;
        else if (!patient)
            status = 4;
    });
    operatorHand.start(patient ? 5 : 0);

    CConsoleApp station;
    station.StartUp();
    std::printf("units before %ld, presses %ld, passes %ld, refusals %ld\n", before, presses, passes, refusals);
    return status;
}
