#pragma once
// The file-open dialog, replaceable for tests like the message box.

#include <cstdint>
#include <functional>
#include <string>

class QWidget;

// Flags of FileOpenDialog. Either of the last two limits the choice to an
// existing file; the first two are accepted and change nothing.
constexpr uint32_t OFN_OVERWRITEPROMPT = 0x0002;
constexpr uint32_t OFN_HIDEREADONLY = 0x0004;
constexpr uint32_t OFN_PATHMUSTEXIST = 0x0800;
constexpr uint32_t OFN_FILEMUSTEXIST = 0x1000;

// Modal open dialog owned by owner. filter is the form
// "Description|pattern[;pattern]|...|" ended by "||"; path is the initial
// file name (folder included). Returns true and sets path to the chosen
// file's full path on OK; false (path unchanged) on cancel.
bool FileOpenDialog(QWidget* owner, std::string& path, const std::string& filter, uint32_t flags);

using FileOpenHandler = std::function<bool(QWidget* owner, std::string& path,
                                           const std::string& filter, uint32_t flags)>;
// Replaces the dialog (empty: the real one); returns the previous handler.
FileOpenHandler SetFileOpenHandler(FileOpenHandler handler);

// "TI Text Files (*.txt)|*.txt||" -> "TI Text Files (*.txt)", pairs joined
// by ";;" as Qt's file dialog takes them.
std::string ClassicFilterToQt(const std::string& filter);
