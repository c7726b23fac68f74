#pragma once
// Thin helpers over the widgets CDialog builds, with index-based list-box
// calls: indexes are 0-based and -1 (CB_ERR) means "none" or "failed".

#include <QComboBox>
#include <QIcon>
#include <QPixmap>

#include <cstdint>
#include <string>

class QLabel;
class QWidget;

constexpr int CB_ERR = -1;

// Template styles (Style:: flags) the control was built with; 0 for others.
uint32_t ControlStyles(const QWidget* control);
// Template id of a control, -1 for none.
int ControlId(const QWidget* control);

// Adds an entry: at its sorted place (case-insensitive, after equal
// entries) when the combo has the Sort style, else at the end; converted to
// capitals when it has the UpperCase style. Returns the entry's index.
int AddString(QComboBox* combo, const std::string& text);
// Deletes the entry at index; returns the remaining count, or CB_ERR for a
// bad index.
int DeleteString(QComboBox* combo, int index);
int GetCount(const QComboBox* combo);
// Selected index, CB_ERR (-1) when none.
int GetCurSel(const QComboBox* combo);
// Selects index; an index outside the list clears the selection (and, for a
// combo with an edit field, its text). Returns the index or CB_ERR.
int SetCurSel(QComboBox* combo, int index);
// First entry that begins with prefix, ignoring case (an empty prefix
// matches the first entry); CB_ERR when none.
int FindString(const QComboBox* combo, const std::string& prefix);
// FindString, then select it. Returns its index or CB_ERR (selection unchanged).
int SelectString(QComboBox* combo, const std::string& prefix);
std::string GetLBText(const QComboBox* combo, int index);  // "" for a bad index
// Per-entry data. Set returns CB_ERR for a bad index; Get gives CB_ERR.
int SetItemData(QComboBox* combo, int index, intptr_t data);
intptr_t GetItemData(const QComboBox* combo, int index);
// Text of the edit field (upper-cased for an UpperCase combo).
void SetEditText(QComboBox* combo, const std::string& text);

// Picture controls: show a pixmap (null or empty: no image).
void SetPicture(QLabel* picture, const QPixmap* pixmap);
bool HasPicture(const QLabel* picture);

// Images compiled in as Qt resources, addressed by resource id:
// ":/bitmaps/<id>" and ":/icons/<id>/<size>" (size 16, 32 or 48).
// A null pixmap / icon when absent.
QPixmap LoadBitmap(int id);
QIcon LoadIcon(int id);
