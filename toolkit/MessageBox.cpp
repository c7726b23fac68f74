#include "MessageBox.h"

#include <QAbstractButton>
#include <QApplication>
#include <QIcon>
#include <QMessageBox>
#include <QWidget>

namespace {

MessageBoxHandler& MessageHandler()
{
    static MessageBoxHandler handler;
    return handler;
}

CriticalBoxHandler& CriticalHandler()
{
    static CriticalBoxHandler handler;
    return handler;
}

// Some desktop themes put a green tick on OK; beside an error text it would
// read as the station's pass picture.
void PlainOkButton(QMessageBox& box)
{
    if (QAbstractButton* ok = box.button(QMessageBox::Ok))
        ok->setIcon(QIcon());
}

int ShowMessageBox(QWidget* owner, const std::string& text)
{
    QMessageBox box(QMessageBox::Warning, QCoreApplication::applicationName(),
                    QString::fromStdString(text), QMessageBox::Ok, owner);
    box.setTextFormat(Qt::PlainText);
    PlainOkButton(box);
    box.exec();
    return IDOK;
}

int ShowRetryCancelBox(QWidget* owner, const std::string& text)
{
    QMessageBox box(QMessageBox::Warning, QCoreApplication::applicationName(),
                    QString::fromStdString(text), QMessageBox::Retry | QMessageBox::Cancel, owner);
    box.setTextFormat(Qt::PlainText);
    box.setDefaultButton(QMessageBox::Retry);
    return box.exec() == QMessageBox::Retry ? IDRETRY : IDCANCEL;
}

void ShowCriticalBox(const std::string& caption, const std::string& text)
{
    QMessageBox box(QMessageBox::Critical, QString::fromStdString(caption),
                    QString::fromStdString(text), QMessageBox::Ok, nullptr);
    box.setTextFormat(Qt::PlainText);
    PlainOkButton(box);
    box.exec();
}

}  // namespace

int MessageBox(QWidget* owner, const std::string& text)
{
    if (MessageHandler())
        return MessageHandler()(owner, text);
    return ShowMessageBox(owner, text);
}

int RetryCancelBox(QWidget* owner, const std::string& text)
{
    if (MessageHandler())
        return MessageHandler()(owner, text) == IDRETRY ? IDRETRY : IDCANCEL;
    return ShowRetryCancelBox(owner, text);
}

void CriticalBox(const std::string& caption, const std::string& text)
{
    if (CriticalHandler())
        CriticalHandler()(caption, text);
    else
        ShowCriticalBox(caption, text);
}

MessageBoxHandler SetMessageBoxHandler(MessageBoxHandler handler)
{
    return std::exchange(MessageHandler(), std::move(handler));
}

CriticalBoxHandler SetCriticalBoxHandler(CriticalBoxHandler handler)
{
    return std::exchange(CriticalHandler(), std::move(handler));
}

CMessageBoxRecorder::CMessageBoxRecorder()
{
    m_previousMessage = SetMessageBoxHandler([this](QWidget* owner, const std::string& text) {
        Box box{false, owner, QCoreApplication::applicationName().toStdString(), text,
                QApplication::focusWidget()};
        Boxes.push_back(box);
        if (OnShow)
            OnShow(box);
        if (Answers.empty())
            return IDOK;
        const int answer = Answers.front();
        Answers.erase(Answers.begin());
        return answer;
    });
    m_previousCritical =
        SetCriticalBoxHandler([this](const std::string& caption, const std::string& text) {
            Box box{true, nullptr, caption, text, QApplication::focusWidget()};
            Boxes.push_back(box);
            if (OnShow)
                OnShow(box);
        });
}

CMessageBoxRecorder::~CMessageBoxRecorder()
{
    SetMessageBoxHandler(std::move(m_previousMessage));
    SetCriticalBoxHandler(std::move(m_previousCritical));
}

std::vector<std::string> CMessageBoxRecorder::Texts() const
{
    std::vector<std::string> texts;
    for (const auto& b : Boxes)
        texts.push_back(b.text);
    return texts;
}
