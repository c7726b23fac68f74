// Makes each library call of a full run fail in turn and checks what must
// hold on every path.

#include <map>

#include "Recorders.h"

namespace {

const char* const Device = "MSP430F149";

// A result that the session must treat as a failure of this call, or
// nothing for calls whose result is ignored or counts (selector 6).
std::optional<int32_t> FailureOf(const CFakeCall& call)
{
    static const std::map<std::string, int32_t> failures = {
        {"SetDeviceType", 5}, {"SetVcc", 6}, {"InitTarget", -3}, {"Erase", 1},
        {"ProgramFile", 0},  {"VerifyFile", -2}, {"ProgramData", 0}, {"VerifyData", 1},
        {"Reset", 0},        {"ReleaseTarget", 9}, {"BlowFuse", 9}};
    if (call.Function == "GetDeviceCfgInfo") {
        if (call.Args[0] == 6) return 0;   // no regions: not a failure
        return -1;
    }
    auto it = failures.find(call.Function);
    return it == failures.end() ? std::nullopt : std::optional<int32_t>(it->second);
}

// The error text a failure of this call leaves (before the supply is
// switched off), by the call as logged.
std::string ExpectedError(const CFakeCall& call)
{
    static const std::map<std::string, std::string> byCall = {
        {"SetDeviceType(MSP430F149)", "Unable to set device type MSP430F149 (5)"},
        {"SetVcc(3300)", "Unable to set target VCC to 3.300000 volts (6)"},
        {"SetVcc(0)", "Unable to set target VCC to 0.000000 volts (6)"},
        {"InitTarget(MSP430F149)", "Unable to initialize target MSP430F149 (-3)"},
        {"Erase(0x1000, 128, 1)", "Could not erase segment 1000"},
        {"Erase(0x1080, 128, 1)", "Could not erase segment 1080"},
        {"Erase(0x1100, 64, 1)", "Could not erase segment 1100"},
        {"ProgramFile(fw.txt, 0, 1, 0)", "Unable to program (0)"},
        {"VerifyFile(fw.txt, 0)", "Unable to verify (FFFFFFFE)"},
        {"ProgramData(0x1000, 2, [34 12])", "Unable to program serial number (0000)"},
        {"VerifyData(0x1000, 2, [34 12])", "Unable to verify serial number (0001)"},
        {"Reset(1)", "Fuse blow failed"},
    };
    if (call.Function == "GetDeviceCfgInfo") return "Could not read config file";
    const auto it = byCall.find(call.ToString());
    return it == byCall.end() ? "No error" : it->second;
}

}  // namespace

class FaultSweep : public SessionTest {
protected:
    void Arrange()
    {
        Fake.Devices({CFakeDevice(Device, 3000, {{3, 0x1000, 128, 2}, {1, 0x8000, 512, 4}, {3, 0x1100, 64, 1}})});
        Progress.Positions.clear();
        Status.Texts.clear();
        Events.clear();
    }
    int Run()
    {
        Record = MakeRecord(2, 0x1234);
        return Session->BatchProgram(Device, 0, 3.3, "fw.txt", 1, 1, &Record);
    }
    CSerialNumber Record;
};

TEST_F(FaultSweep, EveryCallFailingKeepsTheInvariants)
{
    Arrange();
    ASSERT_EQ(Run(), 1);
    const std::vector<CFakeCall> clean = Fake.Calls();
    ASSERT_EQ(clean.size(), 22u);   // 3 + 5 + 3 + 3 erases + 2 + 2 + 2 + release, supply off
    ASSERT_EQ(clean[1].ToString(), "SetVcc(3300)");
    ASSERT_EQ(clean[2].Function, "InitTarget");

    for (size_t k = 0; k < clean.size(); ++k) {
        SCOPED_TRACE("failing call " + std::to_string(k) + ": " + clean[k].ToString());
        const std::optional<int32_t> failure = FailureOf(clean[k]);
        if (!failure) continue;
        Fake.Reset();
        Fake.SetObserver(nullptr);
        Arrange();
        Session = std::make_unique<CVELK>(&Window, VELK_NOTIFY_MESSAGE, &Status, &Progress);
        Window.Session = Session.get();
        // Erase is retried: fail this segment every time.
        const bool erase = clean[k].Function == "Erase";
        const int64_t address = erase ? clean[k].Args[0] : 0;
        Fake.SetOverride([&, erase, address](const CFakeCall& call, size_t index) -> std::optional<int32_t> {
            if (erase) {
                if (call.Function == "Erase" && call.Args[0] == address) return failure;
                return std::nullopt;
            }
            if (index == k) return failure;
            return std::nullopt;
        });

        const int result = Run();
        const auto& calls = Fake.Calls();
        const bool ignored = clean[k].Function == "ReleaseTarget" || clean[k].Function == "BlowFuse" ||
                             (clean[k].Function == "GetDeviceCfgInfo" && clean[k].Args[0] == 6);
        const bool lastSupplyOff = k + 1 == clean.size();
        const bool succeeds = ignored || lastSupplyOff;
        EXPECT_EQ(result, succeeds ? 1 : 0);
        EXPECT_EQ(Progress.Pos, 0);

        // The failing call is the last that is not an undo step.
        const size_t failedAt = erase ? calls.size() - 3 : k;
        ASSERT_LT(failedAt, calls.size());
        for (size_t i = failedAt + 1; i < calls.size(); ++i) {
            if (succeeds) break;
            EXPECT_TRUE(calls[i].Function == "ReleaseTarget" || calls[i].Function == "SetVcc") << calls[i].ToString();
        }

        // Supply: switched off last whenever it was switched on.
        const bool supplyOn = k > 1;
        const auto supply = Fake.CallsTo("SetVcc");
        size_t offs = 0;
        for (const auto& call : supply) offs += call.ToString() == "SetVcc(0)";
        if (supplyOn) EXPECT_EQ(supply.back().ToString(), "SetVcc(0)");
        else EXPECT_EQ(offs, 0u);

        // Released if and only if initialised, and before the supply goes off.
        const bool initialised = k > 2;
        EXPECT_EQ(Fake.Count("ReleaseTarget"), initialised ? 1u : 0u);
        if (initialised) {
            size_t release = 0, off = 0;
            for (size_t i = 0; i < calls.size(); ++i) {
                if (calls[i].Function == "ReleaseTarget") release = i;
                if (calls[i].ToString() == "SetVcc(0)") off = i;
            }
            EXPECT_LT(release, off);
        }

        std::string error;
        Session->GetErrorText(error);
        if (ignored) {
            EXPECT_EQ(error, "No error");
            EXPECT_EQ(Status.Text, "Batch executed successfully");
        } else {
            EXPECT_EQ(error, ExpectedError(clean[k]));
            EXPECT_EQ(Status.Text == "Batch executed successfully", lastSupplyOff) << Status.Text;
        }
    }
}

TEST_F(FaultSweep, EraseFailingOnceTwiceOrThreeTimes)
{
    const std::pair<int32_t, const char*> segments[] = {
        {0x1000, "Could not erase segment 1000"},
        {0x1080, "Could not erase segment 1080"},
        {0x1100, "Could not erase segment 1100"},
    };
    for (const auto& [address, failure] : segments) {
        for (int fails = 1; fails <= 3; ++fails) {
            SCOPED_TRACE(std::to_string(address) + " x" + std::to_string(fails));
            Fake.Reset();
            Arrange();
            Session = std::make_unique<CVELK>(&Window, VELK_NOTIFY_MESSAGE, &Status, &Progress);
            Window.Session = Session.get();
            int seen = 0;
            Fake.SetOverride([&](const CFakeCall& call, size_t) -> std::optional<int32_t> {
                if (call.Function == "Erase" && call.Args[0] == address && seen++ < fails) return 7;
                return std::nullopt;
            });
            const int result = Run();
            std::string error;
            Session->GetErrorText(error);
            EXPECT_EQ(Progress.Pos, 0);
            EXPECT_EQ(Fake.Count("ReleaseTarget"), 1u);
            EXPECT_EQ(Fake.CallsTo("SetVcc").back().ToString(), "SetVcc(0)");
            if (fails < 3) {
                EXPECT_EQ(result, 1);
                EXPECT_EQ(Fake.Count("Erase"), 3u + static_cast<size_t>(fails));
                EXPECT_EQ(error, "No error");
            } else {
                EXPECT_EQ(result, 0);
                EXPECT_EQ(error, failure);
                EXPECT_EQ(Status.Text, "Flash erase failed");
                EXPECT_EQ(Fake.Count("ProgramFile"), 0u);
            }
        }
    }
}
