#pragma once
// The programmer behind the library's C functions when the port text names
// mspdebug: one mspdebug process per target session (InitTarget to
// ReleaseTarget, since the supply is given when it connects). Files are read
// by the library's own image reader (every format) and checked against the device table
// before the target is touched; data is written in raw blocks and checked by
// reading the target's memory back.

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "velk430.h"
#include "DeviceTable.h"
#include "PortText.h"
#include "Session.h"
#include "Shared.h"
#include "Image.h"

namespace velk::msp {

// Whether the part mspdebug identified ("MSP430G2553/G2403": alternatives,
// "MSP430F2x18": x is any one character) is the selected device.
bool SamePart(std::string_view identified, std::string_view selected);

class CMspProgrammer {
public:
    CMspProgrammer() = default;
    CMspProgrammer(const CMspProgrammer&) = delete;
    CMspProgrammer& operator=(const CMspProgrammer&) = delete;
    ~CMspProgrammer();

    int32_t InitCom(const char* port, int32_t baud);
    int32_t SetNotificationWnd(VelkNotifyWindow* window, uint32_t message);
    int32_t ReleaseCom();
    int32_t SetDeviceType(const char* name);
    int32_t InitTarget(const char* name);
    int32_t ReleaseTarget();
    int32_t SetVcc(uint32_t millivolts);
    int32_t Erase(int32_t address, int32_t size, int32_t mode);
    int32_t ProgramFile(const char* path, int32_t a, int32_t b, int32_t c);
    int32_t VerifyFile(const char* path, int32_t a);
    int32_t ProgramData(int32_t address, int32_t count, const unsigned char* bytes);
    int32_t VerifyData(int32_t address, int32_t count, const unsigned char* bytes);
    int32_t BlowFuse();
    int32_t Reset(int32_t mode);

    bool IsOpen() const { return Open; }
    // The mspdebug process of the target session, or -1.
    pid_t EnginePid() const { return Session.Running() ? Session.Pid() : -1; }
    // The folder of the raw blocks (after the first InitCom), or empty.
    const std::string& ScratchFolder() const { return Scratch; }

private:
    const CDevice& Device() const { return Table.Devices()[static_cast<size_t>(DeviceType)]; }
    int32_t TargetCheck() const;
    int32_t Connect();
    int32_t Identify(const CReply& reply);
    void EndSession();
    void Snapshot();
    int32_t Failed(const CReply& reply, const std::string& what);
    int32_t Script(const std::vector<std::string>& commands, const std::vector<size_t>& sizes,
                   const std::string& what, const std::function<void(size_t)>& step = {});
    static std::string SaveRaw(uint32_t address, size_t count, const std::string& file);
    static std::string LoadRaw(uint32_t address, const uint8_t* bytes, size_t count, const std::string& file);
    static int32_t Saved(const std::string& file, uint32_t address, size_t count, std::vector<uint8_t>& out);
    static int32_t Differ(uint32_t address, const std::vector<uint8_t>& actual, const uint8_t* expected);
    int32_t Read(uint32_t address, uint32_t count, std::vector<uint8_t>& out);
    int32_t EraseSegment(uint32_t address, uint32_t size);
    int32_t EraseMain();
    struct CBlock {
        uint32_t Address;
        const uint8_t* Bytes;
        size_t Count;
        std::string File;  // its raw file in the scratch folder
    };
    std::vector<CBlock> Blocks(const CImage& image) const;
    int32_t BlockScript(const std::vector<CBlock>& blocks, const std::string& what, CProgress& progress,
                        const std::function<std::string(const CBlock&)>& command);
    int32_t WriteImage(const CImage& image);
    int32_t VerifyImage(const CImage& image);
    int32_t ReadFile(const char* path, CImageResult& file) const;

    CPortText Port;
    CEngine Engine;
    CTimeouts Limits;
    CDeviceTable Table;
    CSession Session;
    std::string Scratch;  // a private folder for the raw blocks mspdebug reads and writes, kept while the object lives
    VelkNotifyWindow* Window = nullptr;
    uint32_t Message = 0;
    bool Open = false;
    int32_t DeviceType = -1;
    uint32_t Vcc = 0;
    bool Ready = false;
};

}  // namespace velk::msp
