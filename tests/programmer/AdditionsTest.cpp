// The library's additions as the session and the setup check use them: the
// library's own bodies of the three exports (velk430_core), installed beside
// the fake library, which has none. The fake's override clears and sets the
// library's reason the way the real exports do, so that a reason read at
// the wrong moment is lost here as it would be there.
#include "Recorders.h"

#include "LibraryAdditions.h"
#include "SetupCheck.h"
#include "Setup.h"
#include "Shared.h"

namespace {

const char* const Verify22 =
    "\n-22: the unit's memory differs from the file after programming. Replace the unit, or check that the file "
    "did not change.";

class AdditionsTest : public SessionTest {
protected:
    void SetUp() override
    {
        SessionTest::SetUp();
        Previous = SetLibraryAdditions({&velk::CheckSetupCall, &velk::LastErrorTextCall, &velk::ResultTextCall});
        // A call of the fake clears the reason, then gives the one scripted for it.
        Fake.SetOverride([this](const CFakeCall& call, size_t) -> std::optional<int32_t> {
            velk::ClearLastError();
            if (call.Function == Failing) {
                if (*Reason) velk::SetLastError(Reason);
                return Code;
            }
            return std::nullopt;
        });
    }
    void TearDown() override
    {
        SetLibraryAdditions(Previous);
        SessionTest::TearDown();
    }

    CLibraryAdditions Previous;
    std::string Failing;
    int32_t Code = 0;
    const char* Reason = "";
};

}  // namespace

TEST_F(SessionTest, WithoutTheAdditionsNothingIsCheckedOrAdded)
{
    EXPECT_EQ(LibraryAdditions().CheckSetup, nullptr);   // the fake has none
    EXPECT_EQ(CheckBatchSetup({"COM1", 300, "NO SUCH", "/nonexistent.txt", 0, 0, 0x200, 2}).Code, 0);
    EXPECT_TRUE(Calls().empty());
    Fake.Script("VerifyFile", {-22});
    CSerialNumber record;
    EXPECT_EQ(Session->BatchProgram("MSP430F149", 0, 3.0, "fw.txt", 0, 0, &record), 0);
    EXPECT_EQ(Error(), "Unable to verify (FFFFFFEA)");
    EXPECT_EQ(Session->Explanation(), "");
}

TEST_F(AdditionsTest, ExplanationNamesTheReasonAndTheCodeOfTheFailedCall)
{
    const struct {
        const char* function;
        int32_t code;
        const char* reason;
        bool fuseCheck;
        std::string explanation;
    } rows[] = {
        {"VerifyFile", -22, "", false, Verify22},
        {"InitTarget", -43, "usbutil: unable to find a device", false,
         "\nusbutil: unable to find a device\n-43: mspdebug cannot reach the programmer or the unit. Check the USB "
         "cable, the access rights and that the unit is seated."},
        // CheckFuse releases the target before it looks at InitTarget's answer.
        {"InitTarget", -43, "usbutil: unable to find a device", true,
         "\nusbutil: unable to find a device\n-43: mspdebug cannot reach the programmer or the unit. Check the USB "
         "cable, the access rights and that the unit is seated."},
        // BlowFuse's result is not looked at, but its reason is kept past Reset.
        {"BlowFuse", -47, "this programmer (mspdebug 0.22) cannot blow the security fuse", false,
         "\nthis programmer (mspdebug 0.22) cannot blow the security fuse"},
        {"ProgramFile", 3, "", false, ""},   // a code the library never gives: nothing to add
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.function);
        Failing = row.function;
        Code = row.code;
        Reason = row.reason;
        CSerialNumber record;
        int32_t blown = 0;
        if (std::string(row.function) == "BlowFuse")
            Fake.Script("Reset", {0});
        const int done = row.fuseCheck ? Session->CheckFuse("MSP430F149", 3.0, blown)
                                       : Session->BatchProgram("MSP430F149", 0, 3.0, "fw.txt", 1, 0, &record);
        EXPECT_EQ(done, 0);
        EXPECT_EQ(Session->Explanation(), row.explanation);
    }
}

TEST_F(AdditionsTest, RefusedSetupCallsNoneOfTheFifteenAndSaysWhy)
{
    const CSetupRefusal refused = CheckBatchSetup({"COM1", 57600, "MSP430F149", "/nonexistent/fw.txt", 0, 0, 0, 0});
    EXPECT_EQ(refused.Code, -18);
    EXPECT_EQ(refused.Message,
              "Batch not started: this setup cannot succeed, and no unit was touched.\n"
              "firmware \"/nonexistent/fw.txt\": cannot open the file\n"
              "-18: the firmware file cannot be read. Choose the file again with ..., and check that it is there.");
    EXPECT_TRUE(Calls().empty());
    // A name the library's buffer cannot hold is left to Open's own refusal.
    EXPECT_EQ(CheckBatchSetup({std::string(40, 'C'), 300, "MSP430F149", "", 0, 0, 0, 0}).Code, 0);
}
