#pragma once
// The program's resources: dialog templates, string table, icon and bitmaps.
// Images are compiled in as Qt resources and loaded through the toolkit's
// LoadBitmap(id) / LoadIcon(id) (toolkit/ControlHelpers.h).

#include "resource.h"
#include "DialogTemplate.h"

#include <cstdint>
#include <string>

// Registers the compiled-in images (they live in a static library, so
// nothing registers them by itself). Call once, after the QApplication
// exists and before any dialog is built; further calls do nothing.
void InitResources();

// The template with that id (IDD_CONSOLE, IDD_PORT, IDD_ABOUT); null for
// others. Templates live for the whole program.
const DialogTemplate* GetDialogTemplate(int id);

// The string with that id; empty for an id that is not in the table.
std::string LoadString(uint32_t id);

// The file-open filter of the firmware formats the library reads.
constexpr const char* FirmwareFilter =
    "Firmware Files (*.txt *.hex *.ihx *.srec *.s19 *.s28 *.s37 *.elf)|*.txt;*.hex;*.ihx;*.srec;*.s19;*.s28;*.s37;*.elf|"
    "All Files (*)|*||";
