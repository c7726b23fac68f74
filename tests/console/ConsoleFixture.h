#pragma once
// A console over the fake library, with recorded message boxes, a replaced
// file dialog and a store that starts empty for every test.

#include "ConsoleProbe.h"
#include "Resources.h"
#include "ScratchDir.h"
#include "ControlHelpers.h"
#include "FileDialog.h"
#include "MessageBox.h"

#include "FakeVelk.h"

#include <QApplication>
#include <QDir>
#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QSettings>
#include <QTimer>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

using Values = std::map<std::string, std::string>;

// The console's store: Quillfern/Corvantis, section Options.
inline Values StoredValues()
{
    QSettings settings(QStringLiteral("Quillfern"), QStringLiteral("Corvantis"));
    Values values;
    settings.beginGroup(QStringLiteral("Options"));
    for (const QString& key : settings.childKeys())
        values[key.toStdString()] = settings.value(key).toString().toStdString();
    return values;
}

inline void StoreValues(const Values& values)
{
    QSettings settings(QStringLiteral("Quillfern"), QStringLiteral("Corvantis"));
    for (const auto& [name, value] : values)
        settings.setValue(QStringLiteral("Options/") + QString::fromStdString(name),
                          QString::fromStdString(value));
    settings.sync();
}

inline void ClearStore()
{
    QSettings settings(QStringLiteral("Quillfern"), QStringLiteral("Corvantis"));
    settings.clear();
    settings.sync();
}

inline std::string Stored(const std::string& name)
{
    const Values values = StoredValues();
    const auto it = values.find(name);
    return it == values.end() ? "<absent>" : it->second;
}

// Runs action on the next modal dialog as soon as its loop runs.
inline void WhenModal(std::function<void(QWidget*)> action)
{
    auto* timer = new QTimer;
    timer->setInterval(0);
    QObject::connect(timer, &QTimer::timeout, timer, [timer, action] {
        if (QWidget* modal = QApplication::activeModalWidget()) {
            timer->stop();
            timer->deleteLater();
            action(modal);
        }
    });
    timer->start();
}

class ConsoleTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        fake.Reset();
        fake.Devices({CFakeDevice("MSP430F112", 3300), CFakeDevice("MSP430F149", 3000),
                      CFakeDevice("MSP430F1232", 1850)});
        ClearStore();
        // A production record per test process: ctest runs this binary's
        // tests side by side, and one writer at a time is what a station is.
        // A unique folder, removed when the process ends.
        static const CScratchDir recordHome("console-record");
        qputenv("XDG_DATA_HOME", recordHome.Path().c_str());
        previousFileHandler = SetFileOpenHandler(
            [this](QWidget*, std::string& path, const std::string& filter, uint32_t flags) {
                fileDialogs.push_back({path, filter, flags});
                if (chosenFile.empty())
                    return false;
                path = chosenFile;
                return true;
            });
    }

    void TearDown() override
    {
        if (console && !console->IsEnded())
            console->DestroyWindow();
        console.reset();
        SetFileOpenHandler(previousFileHandler);
        fake.Reset();
    }

    // Builds and starts the console (modeless), active so focus is real.
    // false when start-up ended it.
    bool Start()
    {
        console = std::make_unique<CConsoleProbe>();
        if (!console->Create())
            return false;
        QApplication::setActiveWindow(console.get());
        return true;
    }

    void SetText(int id, const std::string& text) { console->SetDlgItemText(id, text); }
    std::string Text(int id) const { return console->GetDlgItemText(id); }
    void Click(int id) { console->GetDlgItemAs<QAbstractButton>(id)->click(); }
    void Check(int id, bool on) { console->GetDlgItemAs<QCheckBox>(id)->setChecked(on); }
    void SelectType(int index) { SetCurSel(console->GetDlgItemAs<QComboBox>(IDC_SERIAL_TYPE), index); }
    // The operator picks a device from the list.
    void PickDevice(const std::string& name)
    {
        auto* list = console->GetDlgItemAs<QComboBox>(IDC_DEVICE);
        const int index = FindString(list, name);
        ASSERT_NE(index, CB_ERR) << name;
        list->setCurrentIndex(index);
        emit list->activated(index);
    }
    // Which status picture the console shows: "pending", "pass", "fail" or "none".
    std::string Picture() const { return CConsoleProbe::Picture(*console); }
    bool AllInputsEnabled() const
    {
        for (int id : {IDC_BLOW_FUSE, IDC_CHECK_FUSE, IDC_BROWSE, IDC_COUNT_UP, IDC_ERASE_INFO, IDC_PORT,
                       IDC_RUN_BATCH, IDC_COUNT, IDC_DEVICE, IDC_SERIAL_NUMBER, IDC_SERIAL_ADDRESS,
                       IDC_SERIAL_TYPE, IDC_VCC})
            if (!console->IsWindowEnabled(id))
                return false;
        return true;
    }

    struct FileDialogCall {
        std::string path, filter;
        uint32_t flags;
    };

    CFakeVelk& fake = CFakeVelk::Instance();
    CMessageBoxRecorder boxes;
    std::unique_ptr<CConsoleProbe> console;
    std::string chosenFile;  // empty: the operator cancels the file dialog
    std::vector<FileDialogCall> fileDialogs;
    FileOpenHandler previousFileHandler;
};
