#pragma once
// CConsoleApp: the application object. StartUp runs the console modally for
// the whole life of the program; there is no other window and no message
// loop outside the console's.

class CConsoleApp {
public:
    CConsoleApp();
    virtual ~CConsoleApp();
    CConsoleApp(const CConsoleApp&) = delete;
    CConsoleApp& operator=(const CConsoleApp&) = delete;

    // Needs the QApplication and InitResources(). Switches on the 3-D
    // controls, names the settings' company key (string 102), runs the
    // console until it closes and destroys it. Returns false: the program
    // then ends.
    virtual bool StartUp();
};
