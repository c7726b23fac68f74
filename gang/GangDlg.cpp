#include "GangDlg.h"

#include "VccText.h"

#include "ControlHelpers.h"
#include "FileDialog.h"
#include "MessageBox.h"
#include "Resources.h"
#include "resource.h"

#include "DecimalText.h"

#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QVBoxLayout>

namespace {

constexpr const char* Section = "Gang";
const QStringList SerialTypes{"(none)", "BYTE", "WORD", "DWORD"};
const QStringList Bauds{"2400", "4800", "9600", "19200", "38400", "57600", "115200"};

std::string Key(const char* name, size_t socket) { return name + std::to_string(socket + 1); }

}  // namespace

CGangDlg::CGangDlg(QWidget* parent, const std::string& settingsFile)
    : QDialog(parent), Station(std::make_unique<CStation>(static_cast<CStationView&>(*this), nullptr, nullptr))
{
    if (!settingsFile.empty())
        Station->SetSettingsFile(settingsFile);
    Gang = std::make_unique<CGang>(*Station, static_cast<CGangView&>(*this));
    PendingBitmap = LoadBitmap(IDB_PENDING);
    PassBitmap = LoadBitmap(IDB_PASS);
    FailBitmap = LoadBitmap(IDB_FAIL);
    BuildWindow();
}

CGangDlg::~CGangDlg() = default;

void CGangDlg::BuildWindow()
{
    setWindowTitle(QStringLiteral("Corvantis - Gang"));
    auto* top = new QVBoxLayout(this);
    auto* setup = new QGridLayout;
    top->addLayout(setup);
    const auto label = [&](const char* text, int row, int column) {
        setup->addWidget(new QLabel(QString::fromLatin1(text)), row, column);
    };
    label("Device", 0, 0);
    DeviceList = new QComboBox;
    for (const std::string& name : DeviceNames())
        DeviceList->addItem(QString::fromStdString(name));
    DeviceList->model()->sort(0);
    setup->addWidget(DeviceList, 0, 1);
    label("Vcc", 0, 2);
    setup->addWidget(VccEdit = new QLineEdit, 0, 3);
    label("Baud", 0, 4);
    BaudList = new QComboBox;
    BaudList->addItems(Bauds);
    setup->addWidget(BaudList, 0, 5);
    label("Firmware", 1, 0);
    auto* file = new QHBoxLayout;
    file->addWidget(FileEdit = new QLineEdit);
    auto* browse = new QPushButton(QStringLiteral("..."));
    file->addWidget(browse);
    setup->addLayout(file, 1, 1, 1, 5);
    setup->addWidget(EraseInfoCheck = new QCheckBox(QStringLiteral("Erase Info")), 2, 1);
    setup->addWidget(BlowFuseCheck = new QCheckBox(QStringLiteral("Blow Fuse")), 2, 3);
    label("Serial Number", 3, 0);
    SerialTypeList = new QComboBox;
    SerialTypeList->addItems(SerialTypes);
    setup->addWidget(SerialTypeList, 3, 1);
    label("Address", 3, 2);
    setup->addWidget(SerialAddressEdit = new QLineEdit, 3, 3);
    label("Next", 3, 4);
    setup->addWidget(SerialNumberEdit = new QLineEdit, 3, 5);

    auto* sockets = new QGridLayout;
    top->addLayout(sockets);
    int column = 0;
    for (const char* heading : {"Socket", "Port", "In use", "Progress", "Status", "", "Serial number"})
        sockets->addWidget(new QLabel(QString::fromLatin1(heading)), 0, column++);
    for (size_t i = 0; i < SocketCount; ++i) {
        CRow& row = Rows[i];
        const int r = static_cast<int>(i) + 1;
        sockets->addWidget(new QLabel(QString::number(r)), r, 0);
        sockets->addWidget(row.Port = new QLineEdit, r, 1);
        row.Port->setMinimumWidth(150);
        sockets->addWidget(row.InUse = new QCheckBox, r, 2);
        sockets->addWidget(row.Bar = new QProgressBar, r, 3);
        row.Bar->setTextVisible(false);
        sockets->addWidget(row.Status = new QLineEdit, r, 4);
        row.Status->setReadOnly(true);
        row.Status->setMinimumWidth(260);
        sockets->addWidget(row.Picture = new QLabel, r, 5);
        row.Picture->setFixedSize(24, 24);
        row.Picture->setScaledContents(true);
        sockets->addWidget(row.Serial = new QLabel, r, 6);
        row.Serial->setMinimumWidth(110);
    }
    auto* buttons = new QHBoxLayout;
    top->addLayout(buttons);
    buttons->addWidget(Summary = new QLabel);
    Summary->setMinimumWidth(200);
    buttons->addStretch();
    buttons->addWidget(RunAllButton = new QPushButton(QStringLiteral("Run All")));
    buttons->addWidget(CheckFuseButton = new QPushButton(QStringLiteral("Check Fuse")));
    buttons->addWidget(CloseButton = new QPushButton(QStringLiteral("Close")));
    RunAllButton->setDefault(true);
    // A device the operator picks brings its default supply, as in the main
    // window; a negative default names none and Vcc stays.
    connect(DeviceList, &QComboBox::activated, this, [this] {
        int32_t millivolts = 0;
        const int32_t device = FindDeviceNumber(DeviceList->currentText().toStdString());
        if (device >= 0 && GetDefaultVcc(device, millivolts) && millivolts >= 0)
            VccEdit->setText(QString::fromStdString(FormatVccText(millivolts * 0.001)));
    });
    connect(RunAllButton, &QPushButton::clicked, this, [this] { OnRunAll(); });
    connect(CheckFuseButton, &QPushButton::clicked, this, [this] { OnCheckFuse(); });
    connect(CloseButton, &QPushButton::clicked, this, [this] { close(); });
    connect(browse, &QPushButton::clicked, this, [this] { OnBrowse(); });
}

bool CGangDlg::TakeLock()
{
    std::string message;
    if (Station->TakeLock(message))
        return true;
    MessageBox(this, message);
    return false;
}

bool CGangDlg::Load()
{
    if (const std::string problem = Station->SettingsProblem(); !problem.empty()) {
        MessageBox(this, problem);
        return false;
    }
    std::string message;
    if (!Station->Load(Station->OpenSettingsStore(), message))
        MessageBox(this, message);  // commands refuse until the record can be written
    // Production mode that cannot start: no command runs on this station.
    if (!Station->ProductionProblem().empty())
        return false;
    LoadFields();
    ShowRecipe();
    return true;
}

void CGangDlg::LoadFields()
{
    const CSettingsStore store = Station->OpenSettingsStore();
    // Without a gang of its own yet, the main window's setup.
    const CStationSetup main = LoadStationSetup(store);
    const auto text = [&](const char* name, const std::string& fallback) {
        return QString::fromStdString(store.GetProfileString(Section, name, fallback));
    };
    const auto number = [&](const char* name, int32_t fallback) {
        return static_cast<int32_t>(store.GetProfileInt(Section, name, static_cast<uint32_t>(fallback)));
    };
    const QString device = text("DeviceName", main.DeviceName);
    const int entry = DeviceList->findText(device, Qt::MatchFixedString);
    DeviceList->setCurrentIndex(entry >= 0 ? entry : 0);
    // The main window's stored text; one it refuses is shown as it is and
    // refused by Run All, never replaced by 3.3 V.
    const std::string mainVcc = store.GetProfileString("Options", "VCC", DefaultVccText);
    VccEdit->setText(text("VCC", IsAcceptableVccText(mainVcc) ? FormatVccText(main.Vcc) : mainVcc));
    BaudList->setCurrentText(QString::number(number("Baud", main.Baud)));
    FileEdit->setText(text("FileName", main.FileName));
    EraseInfoCheck->setChecked(number("EraseFlash", main.EraseFlash) == 1);
    BlowFuseCheck->setChecked(number("BlowFuse", main.BlowFuse) == 1);
    const int type = number("SerialType", main.SerialType);
    SerialTypeList->setCurrentIndex(type >= 0 && type < 4 ? type : 0);
    SerialAddressEdit->setText(text("SerialAddress", main.SerialAddress));
    for (size_t i = 0; i < SocketCount; ++i) {
        Rows[i].Port->setText(text(Key("Port", i).c_str(), "COM" + std::to_string(i + 1)));
        Rows[i].InUse->setChecked(number(Key("InUse", i).c_str(), i == 0 ? 1 : 0) == 1);
    }
    ShowNextNumber();
}

// In a line the pool's number, read-only; else the station's own.
void CGangDlg::ShowNextNumber()
{
    int64_t next = -1;
    const bool line = Station->InLine();
    if (line)
        Station->LineNextNumber(next);
    else
        next = LoadStationSetup(Station->OpenSettingsStore()).SerialNumber;
    SerialNumberEdit->setReadOnly(line);
    SerialNumberEdit->setText(next >= 0 ? QString::number(next) : QString());
}

// In production mode the setup fields show the recipe and take no input;
// only the sockets and the commands stay in the operator's hands.
void CGangDlg::ShowRecipe()
{
    if (!Station->Recipe())
        return;
    CStationSetup setup = LoadStationSetup(Station->OpenSettingsStore());
    Station->ApplyRecipe(setup);
    const int entry = DeviceList->findText(QString::fromStdString(setup.DeviceName), Qt::MatchFixedString);
    if (entry >= 0)
        DeviceList->setCurrentIndex(entry);
    VccEdit->setText(QString::fromStdString(FormatVccText(setup.Vcc)));
    FileEdit->setText(QString::fromStdString(setup.FileName));
    EraseInfoCheck->setChecked(setup.EraseFlash == 1);
    BlowFuseCheck->setChecked(setup.BlowFuse == 1);
    SerialTypeList->setCurrentIndex(setup.SerialType >= 0 && setup.SerialType < 4 ? setup.SerialType : 0);
    SerialAddressEdit->setText(QString::fromStdString(setup.SerialAddress));
    Summary->setText(QString::fromStdString(Station->RecipeDescription()));
    Enable(true);
}

void CGangDlg::SaveFields()
{
    CSettingsStore store = Station->OpenSettingsStore();
    // A recipe's setup is not the operator's: only the sockets are kept.
    const bool production = Station->Recipe() != nullptr;
    store.WriteProfileInt(Section, "Baud", BaudList->currentText().toUInt());
    if (!production) {
        store.WriteProfileString(Section, "DeviceName", DeviceList->currentText().toStdString());
        store.WriteProfileString(Section, "VCC", VccEdit->text().toStdString());
        store.WriteProfileString(Section, "FileName", FileEdit->text().toStdString());
        store.WriteProfileInt(Section, "EraseFlash", EraseInfoCheck->isChecked() ? 1 : 0);
        store.WriteProfileInt(Section, "BlowFuse", BlowFuseCheck->isChecked() ? 1 : 0);
        store.WriteProfileInt(Section, "SerialType", static_cast<uint32_t>(SerialTypeList->currentIndex()));
        store.WriteProfileString(Section, "SerialAddress", SerialAddressEdit->text().toStdString());
    }
    for (size_t i = 0; i < SocketCount; ++i) {
        store.WriteProfileString(Section, Key("Port", i), Rows[i].Port->text().trimmed().toStdString());
        store.WriteProfileInt(Section, Key("InUse", i), Rows[i].InUse->isChecked() ? 1 : 0);
    }
    if (!store.Flush())
        Tell("The gang's setup could not be saved.\nThe settings cannot be written to\n" + store.Location());
}

bool CGangDlg::ReadSetup(CStationSetup& s)
{
    s = LoadStationSetup(Station->OpenSettingsStore());  // the counter and its direction
    s.DeviceName = DeviceList->currentText().toStdString();
    s.DeviceNumber = FindDeviceNumber(s.DeviceName);
    const std::string vcc = VccEdit->text().toStdString();
    if (!IsAcceptableVccText(vcc)) {
        MessageBox(this, VccRefusedMessage);
        return false;
    }
    s.Vcc = ParseVccText(vcc);
    s.Baud = BaudList->currentText().toInt();
    s.FileName = FileEdit->text().toStdString();
    s.EraseFlash = EraseInfoCheck->isChecked() ? 1 : 0;
    s.BlowFuse = BlowFuseCheck->isChecked() ? 1 : 0;
    s.SerialType = SerialTypeList->currentIndex();
    s.SerialAddress = SerialAddressEdit->text().toStdString();
    if (!Station->InLine()) {
        const auto next = ParseUnsignedDecimal(SerialNumberEdit->text().trimmed().toStdString());
        if (!next || *next > UINT32_MAX) {
            MessageBox(this, "The next serial number \"" + SerialNumberEdit->text().toStdString() +
                                 "\" is no number from 0 to 4294967295.");
            return false;
        }
        s.SerialNumber = static_cast<uint32_t>(*next);
    }
    return true;
}

void CGangDlg::OnRunAll() { Start(false); }

void CGangDlg::OnCheckFuse() { Start(true); }

bool CGangDlg::Start(bool fuse)
{
    if (Busy()) {
        Tell("The sockets are still running: the next run starts once every socket has finished.");
        return false;
    }
    CStationSetup setup;
    if (!ReadSetup(setup))
        return false;
    SaveFields();
    std::vector<std::string> ports;
    RunRows.clear();
    for (size_t i = 0; i < SocketCount; ++i) {
        CRow& row = Rows[i];
        row.Bar->setValue(row.Bar->minimum());
        row.Status->clear();
        row.Status->setToolTip({});
        row.Serial->clear();
        Show(row, CRow::EShown::None);
        if (row.InUse->isChecked() && !row.Port->text().trimmed().isEmpty()) {
            ports.push_back(row.Port->text().trimmed().toStdString());
            RunRows.push_back(i);
        }
    }
    Passed = Failed = 0;
    Summary->clear();
    Deferred.clear();
    Enable(false);
    const bool started = fuse ? Gang->CheckFuse(setup, ports) : Gang->RunAll(setup, ports);
    if (!started)
        Enable(true);
    return started;
}

void CGangDlg::Enable(bool enable)
{
    const bool production = Station->Recipe() != nullptr;
    for (QWidget* w : std::initializer_list<QWidget*>{DeviceList, VccEdit, FileEdit, EraseInfoCheck, BlowFuseCheck,
                                                      SerialTypeList, SerialAddressEdit, SerialNumberEdit})
        w->setEnabled(enable && !production);
    for (QWidget* w : std::initializer_list<QWidget*>{BaudList, RunAllButton, CheckFuseButton, CloseButton})
        w->setEnabled(enable);
    for (CRow& row : Rows) {
        row.Port->setEnabled(enable);
        row.InUse->setEnabled(enable);
    }
}

void CGangDlg::Show(CRow& row, CRow::EShown shown)
{
    row.Shown = shown;
    const QPixmap& picture = shown == CRow::EShown::Pass   ? PassBitmap
                             : shown == CRow::EShown::Fail ? FailBitmap
                                                           : PendingBitmap;
    if (shown == CRow::EShown::None)
        row.Picture->clear();
    else
        row.Picture->setPixmap(picture);
}

void CGangDlg::Tell(const std::string& text)
{
    // No box interrupts the sockets: what the station says while they run
    // is shown once they have finished.
    if (Busy())
        Deferred.push_back(text);
    else
        MessageBox(this, text);
}

void CGangDlg::SocketStarted(size_t socket, std::optional<uint32_t> serial)
{
    CRow& row = Rows[RunRows[socket]];
    Show(row, CRow::EShown::Pending);
    if (serial)
        row.Serial->setText(QString::number(*serial));
}

void CGangDlg::SocketStatus(size_t socket, const std::string& text)
{
    Rows[RunRows[socket]].Status->setText(QString::fromStdString(text));
}

void CGangDlg::SocketRange(size_t socket, int32_t low, int32_t high)
{
    Rows[RunRows[socket]].Bar->setRange(low, high);
}

void CGangDlg::SocketBar(size_t socket, int32_t pos) { Rows[RunRows[socket]].Bar->setValue(pos); }

void CGangDlg::SocketFinished(size_t socket, const CUnitResult& result, const std::string& message)
{
    CRow& row = Rows[RunRows[socket]];
    const bool passed = result.Result == "passed";
    (passed ? Passed : Failed) += 1;
    Show(row, passed ? CRow::EShown::Pass : CRow::EShown::Fail);
    if (passed)
        row.Bar->setValue(row.Bar->maximum());
    if (passed && result.FuseBlown >= 0)
        row.Status->setText(result.FuseBlown ? QStringLiteral("Fuse is blown") : QStringLiteral("Fuse is NOT blown"));
    if (!passed) {
        const QString text = QString::fromStdString(message.empty() ? result.ErrorText : message);
        row.Status->setText(text.section(QLatin1Char('\n'), 0, 0));
        row.Status->setCursorPosition(0);
        row.Status->setToolTip(text);
        if (result.SerialNumber && !result.SerialSent)
            row.Serial->setText(QStringLiteral("%1 (not written)").arg(*result.SerialNumber));
    }
}

void CGangDlg::AllFinished()
{
    Summary->setText(QStringLiteral("%1 passed, %2 failed").arg(Passed).arg(Failed));
    ShowNextNumber();
    Enable(true);
    RunAllButton->setFocus();
    std::string text;
    for (const std::string& deferred : Deferred)
        text += (text.empty() ? "" : "\n\n") + deferred;
    Deferred.clear();
    if (!text.empty())
        MessageBox(this, text);
}

void CGangDlg::OnBrowse()
{
    if (Station->Recipe())
        return;  // the recipe names the image
    std::string path = FileEdit->text().toStdString();
    if (FileOpenDialog(this, path, FirmwareFilter, OFN_FILEMUSTEXIST | OFN_HIDEREADONLY))
        FileEdit->setText(QString::fromStdString(path));
}

void CGangDlg::closeEvent(QCloseEvent* event)
{
    if (Busy()) {
        event->ignore();
        return;
    }
    SaveFields();
    QDialog::closeEvent(event);
}

void CGangDlg::reject()
{
    if (!Busy())
        close();
}

void RunGangWindow(QWidget* owner, bool ownLock)
{
    CGangDlg gang(owner);
    if (ownLock && !gang.TakeLock())
        return;
    if (!gang.Load())
        return;
    gang.exec();
}
