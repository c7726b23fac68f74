// Every library call of a full batch (erase, WORD serial, fuse) fails in
// turn through the simulator's fault injection, end to end through the
// console: the failure shows the cross and the library's error, consumes the
// serial number only once it was sent to the unit, the unit stays on the socket (never ships) with the port
// and supply released, and the next batch passes. Calls whose result the
// procedure ignores by design (notification window, target release, port
// release, one Erase the retry absorbs) leave a passing batch. A failing
// fuse check after the fuse blew leaves a locked reject, which the operator
// replaces.
#include "DrillFixture.h"

#include "resource.h"
#include "ControlHelpers.h"

#include "ProductionRecord.h"

#include "Codes.h"
#include "velk430.h"

#include "../FileSizeLimit.h"

#include <QApplication>
#include <QKeyEvent>
#include <QLineEdit>
#include <QMouseEvent>

#include <functional>

namespace {

enum class EPicture { Tick, Cross, Pending };

struct CFaultCase {
    const char* Function;
    int32_t Count;         // consecutive failing calls
    EPicture Picture;      // what the station shows
    const char* Box;       // its message; null: none
    const char* Status;    // the Operation field afterwards
    const char* Step;      // the record's step of a failed batch; null: the batch passed
    bool Locked = false;   // the fuse blew before the failure: the unit is a reject
    bool Consumed = false; // the serial number was sent to the unit: never issued again
};

void PrintTo(const CFaultCase& c, std::ostream* os) { *os << c.Function << " x" << c.Count; }

std::string PrintCase(const ::testing::TestParamInfo<CFaultCase>& info)
{
    return std::string(info.param.Function) + "x" + std::to_string(info.param.Count);
}

class FaultDrill : public ::testing::TestWithParam<CFaultCase>, protected CDrillFixture {
protected:
    void SetUp() override { SetUpDrill(); }
    void TearDown() override { TearDownDrill(); }
};

constexpr uint32_t Serial = 500;

}  // namespace

TEST_P(FaultDrill, FailsCleanlyAndTheNextBatchPasses)
{
    const CFaultCase& c = GetParam();
    WriteConf(FullBatchConf(Serial));
    ASSERT_TRUE(Start());
    ASSERT_TRUE(Sim->InjectFault(c.Function, velk::kInjected, c.Count));

    Console->RunBatchButton->click();

    const bool passed = c.Picture == EPicture::Tick;
    EXPECT_TRUE(Shows(passed                            ? Console->PassBitmap
                      : c.Picture == EPicture::Cross ? Console->FailBitmap
                                                      : Console->PendingBitmap));
    // Under the message, the injected code's meaning; BlowFuse's own result is
    // not looked at, and the fuse check that fails after it answers 0.
    const std::string injected =
        std::string(c.Function) == "BlowFuse"
            ? "" : "\n-25: a failure injected with velk430-sim. Clear it with velk430-sim fail clear.";
    EXPECT_EQ(Boxes.Texts(), c.Box ? std::vector<std::string>{c.Box + injected} : std::vector<std::string>{});
    EXPECT_EQ(Console->GetDlgItemText(IDC_OPERATION), c.Status);
    // One row, completed before the picture changed, with the step that failed.
    const auto rows = Console->Record->Select({});
    ASSERT_TRUE(rows && rows->size() == 1u);
    const CAttempt& row = rows->front();
    EXPECT_EQ(row.Result.toStdString(), c.Step ? "failed" : "passed");
    EXPECT_EQ(row.Step.toStdString(), c.Step ? c.Step : "");
    EXPECT_EQ(row.ErrorText.toStdString(), c.Box ? c.Box : "");
    EXPECT_EQ(row.ErrorCode.has_value(), c.Step != nullptr);
    EXPECT_EQ(row.SerialValue, Serial);
    EXPECT_EQ(row.SerialWritten, passed || c.Consumed);
    EXPECT_FALSE(row.EndedAt.isEmpty());
    EXPECT_EQ(Sim->LoadSettings().Faults.size(), 0u) << "the injected failure was never reached";
    // The port is let go, and with it the supply (the simulator drops it on release).
    EXPECT_EQ(ReleaseTarget(), velk::kNotOpen);
    const uint32_t next = passed || c.Consumed ? Serial + 1 : Serial;
    EXPECT_EQ(Console->SerialNumber, next);
    EXPECT_EQ(Console->GetDlgItemText(IDC_SERIAL_NUMBER), std::to_string(next));
    EXPECT_EQ(Stored("SerialNumber"), std::to_string(next));
    EXPECT_EQ(Console->Count, passed ? 1 : 0);
    const auto tray = Sim->LoadTray();
    ASSERT_EQ(tray.size(), passed ? 1u : 0u) << "a failed unit must not leave the station";
    if (passed) {
        EXPECT_EQ(tray[0].Read(0x1000) | (tray[0].Read(0x1001) << 8), Serial);
    }
    EXPECT_TRUE(Console->IsWindowEnabled(IDC_RUN_BATCH));
    if (!passed) {
        const auto unit = Sim->LoadUnit(Table);
        ASSERT_TRUE(unit.has_value());
        EXPECT_EQ(unit->FuseBlown(), c.Locked);
        // The operator puts a locked unit aside and takes a fresh one.
        if (c.Locked) {
            ASSERT_TRUE(Sim->SaveUnit(velk::CUnit(*Table.Find("MSP430F112"))));
        }
    }

    Console->RunBatchButton->click();
    EXPECT_TRUE(Shows(Console->PassBitmap)) << (Boxes.Boxes.empty() ? "" : Boxes.Boxes.back().text);
    const auto after = Sim->LoadTray();
    ASSERT_EQ(after.size(), tray.size() + 1);
    EXPECT_EQ(after.back().Read(0x1000) | (after.back().Read(0x1001) << 8), next);
    EXPECT_EQ(Stored("SerialNumber"), std::to_string(next + 1));
}

INSTANTIATE_TEST_SUITE_P(
    EveryCall, FaultDrill,
    ::testing::Values(
        CFaultCase{"InitCom", 1, EPicture::Pending,
                   "Error opening VELK\nUnable to open VELK on COM1 at 115200 (-25)", "Comm failed", "Open"},
        CFaultCase{"SetNotificationWnd", 1, EPicture::Tick,
                   nullptr, "Batch executed successfully", nullptr},
        CFaultCase{"SetDeviceType", 1, EPicture::Cross,
                   "Unable to set device type MSP430F112 (-25)", "Could not set device type", "Device type"},
        CFaultCase{"SetVcc", 1, EPicture::Cross,
                   "Unable to set target VCC to 3.300000 volts (-25)", "Could not set VCC", "Supply"},
        CFaultCase{"InitTarget", 1, EPicture::Cross,
                   "Unable to initialize target MSP430F112 (-25)", "Could not initialize target", "Target"},
        CFaultCase{"GetDeviceCfgInfo", 1, EPicture::Cross,
                   "Could not read config file", "Flash erase failed", "Erase"},
        CFaultCase{"Erase", 1, EPicture::Tick,
                   nullptr, "Batch executed successfully", nullptr},
        CFaultCase{"Erase", 3, EPicture::Cross,
                   "Could not erase segment 1000", "Flash erase failed", "Erase"},
        CFaultCase{"ProgramFile", 1, EPicture::Cross,
                   "Unable to program (-25)", "Batch program failed", "Program"},
        CFaultCase{"VerifyFile", 1, EPicture::Cross,
                   "Unable to verify (FFFFFFE7)", "Batch program failed", "Verify"},
        CFaultCase{"ProgramData", 1, EPicture::Cross,
                   "Unable to program serial number (FFFFFFE7)", "Serial number failed", "Serial number", false, true},
        CFaultCase{"VerifyData", 1, EPicture::Cross,
                   "Unable to verify serial number (FFFFFFE7)", "Serial number failed", "Serial verify", false, true},
        CFaultCase{"BlowFuse", 1, EPicture::Cross,
                   "Fuse blow failed", "Fuse blow failed", "Fuse", false, true},
        CFaultCase{"Reset", 1, EPicture::Cross,
                   "Fuse blow failed", "Fuse blow failed", "Fuse", true, true},
        CFaultCase{"ReleaseTarget", 1, EPicture::Tick,
                   nullptr, "Batch executed successfully", nullptr},
        CFaultCase{"ReleaseCom", 1, EPicture::Tick,
                   nullptr, "Batch executed successfully", nullptr}),
    PrintCase);

namespace {

class HurriedOperator : public ::testing::Test, protected CDrillFixture {
protected:
    void SetUp() override { SetUpDrill(); }
    void TearDown() override { TearDownDrill(); }

    static QMouseEvent* Mouse(QEvent::Type type, QWidget* w, uint64_t stamp)
    {
        const QPointF at(w->width() / 2.0, w->height() / 2.0);
        const Qt::MouseButton button = type == QEvent::MouseMove ? Qt::NoButton : Qt::LeftButton;
        auto* e = new QMouseEvent(type, at, w->mapToGlobal(at), button,
                                  type == QEvent::MouseButtonPress ? Qt::LeftButton : Qt::NoButton, Qt::NoModifier);
        e->setTimestamp(stamp);
        return e;
    }
    static QKeyEvent* Key(QEvent::Type type, int key, uint64_t stamp)
    {
        auto* e = new QKeyEvent(type, key, Qt::NoModifier);
        e->setTimestamp(stamp);
        return e;
    }
};

}  // namespace

// Clicks and keys made while a batch runs reach the window only after it:
// as events stamped before the batch ended they are dropped, so one press
// is one batch. The press that starts the batch is stamped T; its batch
// ends at T plus its run time, never before T. Delivered while the batch
// still runs but its controls are enabled again (a nested event loop at the
// worst moment), they are dropped as well. A press delivered late (the
// window system's clock already at T + 20 s, as an earlier mouse move
// showed) ends its batch at T + 20 s and more: input stamped up to then was
// made during the batch.
TEST_F(HurriedOperator, InputMadeWhileABatchRunsIsDropped)
{
    constexpr uint64_t T = 100000;
    enum EDelivery { Queued, AtEnd };
    const struct {
        const char* name;
        std::vector<std::pair<QEvent::Type, int>> input;  // key, or 0 for the mouse
        uint64_t stamp;
        EDelivery delivery;
        uint64_t clock;  // the window system's time when the press reaches the window; 0: T
        uint32_t batches;
    } rows[] = {
        {"second click", {{QEvent::MouseButtonPress, 0}, {QEvent::MouseButtonRelease, 0}}, T, Queued, 0, 1},
        {"Enter", {{QEvent::KeyPress, Qt::Key_Return}, {QEvent::KeyRelease, Qt::Key_Return}}, T, Queued, 0, 1},
        {"Space", {{QEvent::KeyPress, Qt::Key_Space}, {QEvent::KeyRelease, Qt::Key_Space}}, T, Queued, 0, 1},
        {"second click at the end", {{QEvent::MouseButtonPress, 0}, {QEvent::MouseButtonRelease, 0}}, T, AtEnd, 0, 1},
        {"Enter at the end", {{QEvent::KeyPress, Qt::Key_Return}, {QEvent::KeyRelease, Qt::Key_Return}}, T, AtEnd, 0, 1},
        {"Space at the end", {{QEvent::KeyPress, Qt::Key_Space}, {QEvent::KeyRelease, Qt::Key_Space}}, T, AtEnd, 0, 1},
        {"second click after a late press", {{QEvent::MouseButtonPress, 0}, {QEvent::MouseButtonRelease, 0}},
         T + 20000, Queued, T + 20000, 1},
        // An hour later is after any batch: the operator's next unit.
        {"click after the batch", {{QEvent::MouseButtonPress, 0}, {QEvent::MouseButtonRelease, 0}}, T + 3600000,
         Queued, 0, 2},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        WriteConf(FullBatchConf(Serial));
        ASSERT_TRUE(Start());
        ASSERT_EQ(Console->SerialNumber, Serial) << "the console did not read the settings of this row";
        QPushButton* run = Console->RunBatchButton;
        // Queued behind the first press: delivered once its batch returns,
        // or when the serial field shows the next number (the controls are
        // enabled again by then).
        for (const auto& [type, key] : row.input)
            QCoreApplication::postEvent(run, key ? static_cast<QEvent*>(Key(type, key, row.stamp))
                                                 : static_cast<QEvent*>(Mouse(type, run, row.stamp)));
        if (row.delivery == AtEnd)
            QObject::connect(Console->SerialNumberEdit, &QLineEdit::textChanged, Console.get(),
                             [] { QCoreApplication::sendPostedEvents(); });
        if (row.clock) {
            std::unique_ptr<QMouseEvent> move(Mouse(QEvent::MouseMove, run, row.clock));
            QApplication::sendEvent(run, move.get());
        }
        std::unique_ptr<QMouseEvent> press(Mouse(QEvent::MouseButtonPress, run, T));
        std::unique_ptr<QMouseEvent> release(Mouse(QEvent::MouseButtonRelease, run, T));
        QApplication::sendEvent(run, press.get());
        QApplication::sendEvent(run, release.get());  // the first batch runs here
        QCoreApplication::sendPostedEvents();
        EXPECT_EQ(Console->SerialNumber, Serial + row.batches);
        EXPECT_EQ(Stored("Count"), std::to_string(row.batches));
        EXPECT_TRUE(Shows(Console->PassBitmap));
        EXPECT_TRUE(Boxes.Texts().empty());
        Console->DestroyWindow();
        ASSERT_TRUE(Sim->SaveUnit(velk::CUnit(*Table.Find("MSP430F112"))));
    }
}

// The disk fills while a unit is programmed: its number is already
// reserved and the unit passes, but the counter cannot be written, and
// neither can Exit's save, nor the production record's pass. Each is told,
// naming the file; Exit offers to
// try again, and once there is space again a retry saves.
TEST_F(HurriedOperator, SettingsWritesOnAFullDiskAreTold)
{
    WriteConf(FullBatchConf(Serial));
    ASSERT_TRUE(Start());
    std::optional<CFileSizeLimit> full;
    QObject::connect(Console->OperationEdit, &QLineEdit::textChanged, Console.get(), [&](const QString& text) {
        if (text == QStringLiteral("Executing batch programming") && !full)
            full.emplace(0);
    });
    // The file itself: the process's settings cache still holds what failed.
    const auto onDisk = [&](const char* name) {
        std::ifstream in(Conf, std::ios::binary);
        return ParseSettingsText(std::string(std::istreambuf_iterator<char>(in), {}))[std::string("Options/") + name];
    };
    Console->RunBatchButton->click();
    ASSERT_TRUE(full && full->Active());
    EXPECT_TRUE(Shows(Console->PassBitmap));
    // The production record on the same disk cannot take the pass either.
    EXPECT_EQ(Boxes.Texts(),
              (std::vector<std::string>{
                  "The production record cannot be written:\n" + RecordFile +
                      "\ndisk I/O error\nThis unit's pass is not recorded.",
                  "The unit passed, but Count 1 could not be saved.\nThe settings cannot be written to\n" + Conf}));
    EXPECT_EQ(onDisk("SerialNumber"), std::to_string(Serial + 1));
    EXPECT_EQ(onDisk("Count"), "0");

    Boxes.Boxes.clear();
    Boxes.Answers = {IDRETRY, IDRETRY};
    Boxes.OnShow = [&](const CMessageBoxRecorder::Box&) {
        if (Boxes.Boxes.size() == 2)
            full.reset();  // space again before the second retry
    };
    Console->ExitButton->click();
    ASSERT_TRUE(Console->IsEnded());
    const std::string retry =
        "Unable to save the settings to\n" + Conf + "\nRetry to try again, or Cancel to end without saving them.";
    EXPECT_EQ(Boxes.Texts(), (std::vector<std::string>{retry, retry}));
    EXPECT_EQ(onDisk("Count"), "1");
    EXPECT_EQ(onDisk("SerialNumber"), std::to_string(Serial + 1));
}
