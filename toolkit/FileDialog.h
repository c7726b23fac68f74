#pragma once
// The file-open dialog, replaceable for tests like the message box.

#include <cstdint>
#include <functional>
#include <string>

class QWidget;

// Flags of the classic open dialog that are honoured.
constexpr uint32_t OFN_OVERWRITEPROMPT = 0x0002;  // ignored by an open dialog
constexpr uint32_t OFN_HIDEREADONLY = 0x0004;     // there is no read-only box anyway
constexpr uint32_t OFN_PATHMUSTEXIST = 0x0800;
constexpr uint32_t OFN_FILEMUSTEXIST = 0x1000;    // the chosen file must exist

// Modal open dialog owned by owner. filter is the classic form
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
