#pragma once
// CVELK: the programmer session. One per operator command: construct, Open,
// run one procedure (BatchProgram or CheckFuse), read the error text if it
// failed, Close (only after a successful Open), destroy.
//
// Operations return 1 for success and 0 for failure; a failure leaves a
// formatted text that GetErrorText copies out ("No error" until something
// fails). Each failure overwrites the text, so the last one wins.
//
// Names handed to the library are copied into buffers of 32 (port), 128
// (device) and 1024 (file) characters, terminator included. A longer name is
// refused without calling the library, with the error text
//   "Port name too long (%d characters)", "Device name too long (%d characters)"
//   or "File name too long (%d characters)"
// (the name's length), and the operation fails as a library failure would.
// A name with a NUL character inside is refused the same way, with
//   "Port name contains a NUL character" (or Device, File).

#include <atomic>
#include <cstdint>
#include <string>
#include <utility>

#include "Controls.h"
#include "LibraryAdditions.h"
#include "velk430.h"

class CSerialNumber;

class CVELK {
public:
    static constexpr int32_t PortBufferSize = VELK_PORT_BUFFER;
    static constexpr int32_t DeviceBufferSize = VELK_NAME_BUFFER;
    static constexpr int32_t FileBufferSize = VELK_PATH_BUFFER;

    // window/message: where the library delivers its notifications.
    // status/progress: the console's controls, not owned; either may be null.
    CVELK(VelkNotifyWindow* window, uint32_t message,
          CTextWindow* status, CProgressWindow* progress);
    virtual ~CVELK() = default;   // calls nothing in the library
    CVELK(const CVELK&) = delete;
    CVELK& operator=(const CVELK&) = delete;

    // InitCom(port, baud) then SetNotificationWnd(window, message).
    // 1 = open. 0: status "Comm failed", error text
    // "Unable to open VELK on %s at %ld (%d)".
    int Open(const std::string& port, int32_t baud);
    // SetNotificationWnd(null, message), SetTargetVcc(0) (its failure still
    // sets the error text), ReleaseCom(). Only after a successful Open.
    void Close();

    // The production procedure; 1 = success. flags: only 1 turns erase and
    // fuse blowing on. vcc in volts. A null record is a program fault
    // (critical error, returns 0, nothing else happens).
    int BatchProgram(const std::string& deviceName, int32_t deviceNumber, double vcc,
                     const std::string& fileName, int32_t blowFuse, int32_t eraseFlash,
                     CSerialNumber* record);
    // After BatchProgram: true when it called ProgramData, so the unit may
    // hold the serial number whatever ProgramData answered; the number is
    // then consumed even if the batch failed. By the step that failed:
    //   device type, supply, InitTarget, information-flash erase,
    //   ProgramFile, VerifyFile, a missing record          -> false
    //   ProgramData, VerifyData, fuse blow or fuse check    -> true
    // After a success: true when serial number bytes were written, false for
    // a record without any. false before the first BatchProgram.
    bool SerialNumberSent() const { return SerialSent; }

    // A flag BatchProgram reads between its steps (the library call in
    // progress always finishes): once set, the batch ends as a failure at
    // step "Interrupted" with the error text "Interrupted", the target and
    // the supply released as after any failure. Null: never stops.
    void SetStopFlag(const std::atomic<bool>* stop) { Stop = stop; }

    // 1 = the check was made, blown = 1 if the fuse is blown (InitTarget
    // answered -12), else 0 (it answered 0). 0 = device type, supply or
    // InitTarget failed (blown = 0); after any other InitTarget result the
    // target is still released, the status is "Unable to initialize target"
    // and the error text "Unable to initialize target %s (%d)".
    int CheckFuse(const std::string& deviceName, double vcc, int32_t& blown);

    void GetErrorText(std::string& text);

    // Library notification: types 11, 17, 19, 21 move the bar to
    // 20 * value - 1000 (32-bit wrap-around); others are ignored. Returns 0.
    int32_t OnNotification(uint32_t type, int32_t value);

    // Library wrappers: 1 = done; 0 with the error text set.
    int SelectDeviceType(const std::string& deviceName);   // "Unable to set device type %s (%d)"
    int InitializeTarget(const std::string& deviceName);   // "Unable to initialize target %s (%d)"
    int FinishTarget();                                     // ReleaseTarget; always 1
    int SetTargetVcc(uint32_t millivolts);  // "Unable to set target VCC to %lf volts (%d)"

    // Program fault: shows "%s in CVELK::%s()\n\nContact program vendor\n"
    // captioned "CVELK Critical Error" and keeps it as the error text.
    void CriticalError(const std::string& what, const std::string& operation);

    void SetStatusText(const std::string& text);    // dropped without a status control
    // Range [0, range], position 0, step counter 1. Nothing without a bar.
    void BeginProgress(int32_t range);
    // Previous bar position; 0 (and nothing done) without a bar.
    int32_t SetProgress(int32_t position);

    // Sub-steps of BatchProgram; 1 = done, 0 with the error text set.
    // EraseInfoFlash uses the device number BatchProgram stored. The
    // configuration's answers are input: a region with a negative segment
    // count erases nothing. Every segment address is checked while the
    // segments are counted: one outside the 32-bit range fails with
    // "Segment address out of range (%lld)" (the first such address) before
    // any segment is erased.
    // More than 900 segments in all give a bar step of 0.
    int EraseInfoFlash();
    int ProgramAndVerifyFile(const std::string& fileName, int32_t passes);
    int ProgramSerialNumber(CSerialNumber* record);
    int BlowAndCheckFuse();

    // Volts to millivolts: volts * 1000.0 rounded to double, truncated toward
    // zero. 3.3 -> 3300, 2.8 -> 2800. Supplies that no millivolt count can
    // express (NaN, infinite, -0.001 V or less, 4294967.296 V or more) give
    // 0xFFFFFFFF, which the library refuses as an absurd supply, rather than
    // something that might be mistaken for "off" or a plausible voltage.
    static uint32_t VoltsToMillivolts(double volts);

    int32_t DeviceNumber() const { return DeviceNumberField; }

    // Where the last failed operation stopped, for the production record.
    // Step: "Open", "Device type", "Supply", "Target", "Erase", "Program",
    // "Verify", "Serial number", "Serial verify", "Fuse", "Fault" (program
    // fault), "Interrupted" (the stop flag); empty while nothing failed. It follows the error text: the
    // failure that set the text set the step. HasCode: the library answered with
    // Code (a refused name has none; for "Fuse" it is the fuse check's answer).
    // Reason: what the library said about that call's failure (its
    // GetLastErrorText, where it has one), else empty.
    struct CFailure {
        std::string Step;
        bool HasCode = false;
        int32_t Code = 0;
        std::string Reason;
    };
    const CFailure& LastFailure() const { return Failure; }

    // What the operator reads under the error text: the library's reason
    // and the code's meaning with what to do ("-22: the unit's memory
    // differs ..."), each on a line of its own that starts with "\n"; empty
    // when the library explains neither (or lacks the exports to).
    std::string Explanation() const;

private:
    enum class StatusOrder { BeforeBar, AfterBar };
    enum class Supply { On, Off };
    // The end of a procedure: the status text before or after the bar drops
    // to 0, then the supply off if asked. Returns 0, a failure's result.
    int EndProcedure(const char* status, StatusOrder order, Supply supply);
    // The steps after InitTarget; null when all went well, else the status
    // text of the step that failed.
    const char* ProgramTarget(const std::string& fileName, int32_t blowFuse, int32_t eraseFlash,
                              CSerialNumber* record);
    // Hands a copy of deviceName to call; false (error text set, call not
    // made) when the name is refused.
    bool CallWithDeviceName(const std::string& deviceName, int32_t (*call)(char*), int32_t& result);
    // 1 for a library result of 0, else 0 with "<failure> <device> (<result>)".
    int DeviceResult(int32_t result, const char* failure, const std::string& deviceName);
    // Selector 7 for one region; false with the error text set.
    bool ReadRegion(int32_t index, VelkRegion& region);
    // false with the error text set when a segment of region lies outside
    // the 32-bit range.
    bool CheckSegmentAddresses(const VelkRegion& region);
    // Erases the segments of one checked region, three tries each.
    bool EraseSegments(const VelkRegion& region, int64_t step, int64_t& position);
    void ProgressStep();
    // true (error text and step set) once the stop flag is set.
    bool Stopped();
    // Copies name into buffer (size bytes); false with the error text set
    // when it does not fit.
    bool CopyName(const std::string& name, char* buffer, int32_t size, const char* what);

    int32_t StepCounter = 0;
    std::string ErrorText = "No error";
    VelkNotifyWindow* NotifyWindow;
    uint32_t NotifyMessage;
    CTextWindow* StatusControl;
    CProgressWindow* ProgressControl;
    int32_t DeviceNumberField = 0;
    bool SerialSent = false;
    const std::atomic<bool>* Stop = nullptr;
    CFailure Failure;
    void SetFailure(const char* step) { Failure = {step, false, 0, {}}; }
    void SetFailure(const char* step, int32_t code, std::string reason = LibraryReason())
    {
        Failure = {step, true, code, std::move(reason)};
    }
};
