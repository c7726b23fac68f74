#pragma once
// The help window: a top-level window of its owner that shows one HTML page.
// An owner has at most one; showing help again reuses and raises it.

#include <QSize>

#include <string>

class QWidget;

// <program folder>/<program base name>.HLP, where F1 looks for help.
std::string ProgramHelpFilePath();

// Shows the HTML file at path in owner's help window, made on first use with
// the given size and the title "<application name> Help". Returns false and
// shows nothing when the file cannot be opened.
bool ShowHelpWindow(QWidget* owner, const std::string& path, QSize size);
