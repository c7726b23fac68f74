// The dialog's system menu: the window manager has no menu a program can
// add to, so the standard entries and the appended ones appear in the
// context menu of the dialog's background and arrive as OnSysCommand.
#include "Dialog.h"

#include <QContextMenuEvent>
#include <QMenu>

#include <memory>

namespace {

// Command ids of the standard entries; the low four bits are free for the
// caller, so commands compare as id & 0xFFF0.
constexpr uint32_t SC_MINIMIZE = 0xF020;
constexpr uint32_t SC_CLOSE = 0xF060;

}  // namespace

void CDialog::AppendSysMenuSeparator() { m_sysMenu.push_back({0, {}}); }

void CDialog::AppendSysMenuItem(uint32_t id, const std::string& text)
{
    m_sysMenu.push_back({id, text});
}

QMenu* CDialog::CreateSysMenu(QWidget* parent) const
{
    auto* menu = new QMenu(parent);
    auto* self = const_cast<CDialog*>(this);
    auto add = [menu, self](uint32_t id, const QString& text) {
        QAction* action = menu->addAction(text);
        action->setData(id);
        connect(action, &QAction::triggered, self,
                [self, id] { self->SendMessage(WM_SYSCOMMAND, id, 0); });
    };
    if (m_template.styles & Style::MinimizeBox)
        add(SC_MINIMIZE, QStringLiteral("Mi&nimize"));
    if (m_template.styles & Style::SysMenu) {
        menu->addSeparator();
        add(SC_CLOSE, QStringLiteral("&Close\tAlt+F4"));
    }
    for (const SysMenuItem& item : m_sysMenu) {
        if (item.id == 0 && item.text.empty())
            menu->addSeparator();
        else
            add(item.id, QString::fromStdString(item.text));
    }
    return menu;
}

void CDialog::contextMenuEvent(QContextMenuEvent* event)
{
    std::unique_ptr<QMenu> menu(CreateSysMenu(this));
    menu->exec(event->globalPos());
}

void CDialog::OnSysCommand(uint32_t id, intptr_t)
{
    switch (id & 0xFFF0) {
    case SC_CLOSE: OnClose(); break;
    case SC_MINIMIZE: showMinimized(); break;
    default: break;
    }
}
