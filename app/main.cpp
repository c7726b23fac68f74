// Corvantis: the operator's station for production programming of MSP430
// microcontrollers.
#include "ConsoleApp.h"

#include "CriticalError.h"
#include "Resources.h"
#include "MessageBox.h"

#include <QApplication>

namespace {

CConsoleApp theApp;

}  // namespace

int main(int argc, char** argv)
{
    QApplication application(argc, argv);
    InitResources();
    SetCriticalErrorHook(CriticalBox);
    theApp.StartUp();
    return 0;
}
