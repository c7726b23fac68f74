#pragma once
// Application-wide switches of the toolkit.

// Three-dimensional drawing of dialog controls: selects the Fusion style, so
// the dialogs look the same (bevelled buttons, sunken fields) on every
// platform. Call once after the QApplication exists, before any dialog.
void Enable3dControls();
