#pragma once
// A dialog template is plain data: the dialog's caption, size and font and
// its controls in template order, which is also the tab order. Positions and
// sizes are in dialog units (horizontal: 1/4 of the font's average character
// width; vertical: 1/8 of its height), as the dialog editor wrote them.

#include <cstdint>
#include <string>
#include <vector>

enum class ControlKind {
    PushButton,  // Style::DefPushButton marks the default button
    CheckBox,    // automatic two-state check box
    Edit,        // single-line edit field
    Label,       // left-aligned static text
    GroupBox,
    Picture,  // bitmap, or icon with Style::Icon, given by ControlTemplate::image
    ProgressBar,
    ComboBox,  // list only; with Style::DropDown, list with an edit field
};

// Style flags of a control or a dialog. The toolkit acts on those with a
// comment; VScroll, AutoHScroll, DropDownList, ModalFrame, AppWindow and
// Visible only describe the template (a Qt list scrolls and an edit field
// scrolls by themselves, a combo without DropDown is a list, and every
// dialog is framed, in the task bar and shown).
namespace Style {
constexpr uint32_t TabStop = 1u << 0;   // reached with Tab
constexpr uint32_t Hidden = 1u << 1;    // created invisible
constexpr uint32_t Disabled = 1u << 2;  // created disabled
constexpr uint32_t Border = 1u << 3;    // edit or progress bar frame
constexpr uint32_t VScroll = 1u << 4;
constexpr uint32_t DefPushButton = 1u << 5;  // the button Enter presses
constexpr uint32_t ReadOnly = 1u << 6;       // edit
constexpr uint32_t Number = 1u << 7;         // edit: only digits can be typed
constexpr uint32_t AutoHScroll = 1u << 8;
constexpr uint32_t NoPrefix = 1u << 9;      // label: ampersands shown as typed
constexpr uint32_t Sunken = 1u << 10;       // picture/label: sunken edge
constexpr uint32_t CenterImage = 1u << 11;  // picture: image centred, control keeps its size
constexpr uint32_t DropDown = 1u << 12;     // combo: list with edit field
constexpr uint32_t DropDownList = 1u << 13;
constexpr uint32_t Sort = 1u << 14;       // combo: items kept sorted (case-insensitive)
constexpr uint32_t UpperCase = 1u << 15;  // combo: all text in capitals
constexpr uint32_t Icon = 1u << 16;       // picture: image is an icon, not a bitmap

// Dialog styles.
constexpr uint32_t SysMenu = 1u << 20;      // close box, Close in the system menu
constexpr uint32_t MinimizeBox = 1u << 21;  // minimise box, Minimize in the system menu
constexpr uint32_t MaximizeBox = 1u << 22;  // maximise box
constexpr uint32_t ModalFrame = 1u << 23;
constexpr uint32_t AppWindow = 1u << 24;
constexpr uint32_t Visible = 1u << 25;
}  // namespace Style

struct ControlTemplate {
    int id = -1;  // -1: a static control nobody addresses
    ControlKind kind = ControlKind::Label;
    std::string text;
    int x = 0, y = 0, cx = 0, cy = 0;  // dialog units; combo cy includes the dropped list
    uint32_t styles = 0;
    int image = 0;                     // bitmap or icon resource id of a picture, 0 for none
    std::vector<std::string> entries;  // initial list entries of a combo box
};

struct DialogTemplate {
    int id = 0;
    std::string caption;
    int x = 0, y = 0, cx = 0, cy = 0;  // dialog units; cx, cy = client area
    std::string fontName = "MS Sans Serif";
    int fontPointSize = 8;
    uint32_t styles = 0;
    std::vector<ControlTemplate> controls;  // template order = tab order
};
