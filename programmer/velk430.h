/* velk430.h - the C interface of the VELK programmer's control library.
 *
 * The library is loaded by name (libVELK430.so here, VELK430.dll on Windows)
 * and reads its device table from "device.cfg" in the program's directory.
 * Every function returns a signed 32-bit result. Texts are NUL-terminated;
 * the library reads a port name within 32 bytes, a device name within 128
 * and a file path within 1024 (terminator included).
 *
 * The library calls the registered notification window synchronously, on the
 * thread that called into it.
 */
#ifndef VELK430_H
#define VELK430_H

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

#if defined(_WIN32)
#define VELK430_API __declspec(dllimport)
#elif defined(__GNUC__)
#define VELK430_API __attribute__((visibility("default")))
#else
#define VELK430_API
#endif

/* Stands in for a native window handle: the library delivers its
 * notifications by calling Deliver(self, message, type, value). */
typedef struct VelkNotifyWindow {
    void (*Deliver)(struct VelkNotifyWindow* self, uint32_t message,
                    uintptr_t wParam, intptr_t lParam);
} VelkNotifyWindow;

/* Message number the console registers for notifications (first user
 * message number 0x400 plus 105). */
#define VELK_NOTIFY_MESSAGE 1129u

/* Notification types (wParam); the value (lParam) of each operation rises
 * from 50 to 100. Busy (value 0) and idle (value = result) frame an
 * operation that has no bar of its own. */
enum {
    VELK_NOTIFY_BUSY = 3,
    VELK_NOTIFY_IDLE = 4,
    VELK_NOTIFY_ERASE = 11,
    VELK_NOTIFY_PROGRAM = 17,
    VELK_NOTIFY_VERIFY = 19,
    VELK_NOTIFY_DATA = 21
};

/* Results. 0 is success for most functions, VELK_DONE for ProgramFile,
 * VerifyFile, ProgramData and VerifyData; every failure is negative. */
#define VELK_OK 0
#define VELK_DONE (-1)
/* Result the target functions give when the security fuse is blown. */
#define VELK_FUSE_BLOWN (-12)

/* Baud rates InitCom takes, as an initializer list: int32_t r[] = VELK_BAUD_RATES; */
#define VELK_BAUD_RATES {2400, 4800, 9600, 19200, 38400, 57600, 115200}

/* Buffers the library reads names within (terminator included). */
#define VELK_PORT_BUFFER 32
#define VELK_NAME_BUFFER 128
#define VELK_PATH_BUFFER 1024

/* GetDeviceCfgInfo selectors. */
enum {
    VELK_CFG_DEVICE_COUNT = 1,  /* index 0, null -> number of devices */
    VELK_CFG_SELECT_DEVICE = 2, /* device number, null -> 0 = current for 3, 6, 7, 10 */
    VELK_CFG_DEVICE_NAME = 3,   /* 0, char[VELK_DEVICE_NAME_BUFFER] -> 0 = name written */
    VELK_CFG_REGION_COUNT = 6,  /* 0, null -> number of memory regions */
    VELK_CFG_REGION = 7,        /* region, VelkRegion* -> 0 = written */
    VELK_CFG_DEVICE_VALUES = 10 /* 0, int32_t[VELK_DEVICE_VALUES] -> 0 = written */
};
#define VELK_DEVICE_NAME_BUFFER 64
#define VELK_DEVICE_VALUES 8
/* Index of the default supply (mV) among the device values. */
#define VELK_VALUE_SUPPLY 2

/* Selector 7's record: 16 bytes. */
typedef struct VelkRegion {
    int32_t Type;          /* VELK_REGION_* */
    int32_t Start;         /* address of the first segment */
    int32_t SegmentSize;   /* bytes */
    int32_t SegmentCount;
} VelkRegion;

/* Region types. Main and information flash can be erased and written. */
enum {
    VELK_REGION_MAIN = 1,
    VELK_REGION_INFO = 3,
    VELK_REGION_CALIBRATION = 4,
    VELK_REGION_BSL = 5,
    VELK_REGION_TLV = 6
};

/* Opens the programmer on a serial port (at most 31 characters). 0 = open. */
VELK430_API int32_t InitCom(char* port, int32_t baud);
/* Registers (or, with a null window, removes) the notification window. Result ignored. */
VELK430_API int32_t SetNotificationWnd(VelkNotifyWindow* window, uint32_t message);
/* Closes the port. Result ignored. */
VELK430_API int32_t ReleaseCom(void);
/* Selects the device type by name (at most 127 characters). 0 = done. */
VELK430_API int32_t SetDeviceType(char* name);
/* Connects to the target. 0 = ready; -12 = security fuse blown; else an error code. */
VELK430_API int32_t InitTarget(char* name);
/* Disconnects from the target. Result ignored. */
VELK430_API int32_t ReleaseTarget(void);
/* Target supply in millivolts; 0 switches it off. 0 = done. */
VELK430_API int32_t SetVcc(uint32_t millivolts);
/* Device configuration query (VELK_CFG_* selectors); answers with no port open.
 *   selector 1, index 0, null       -> number of devices
 *   selector 2, device number, null -> 0 = that device is current for 3, 6, 7, 10
 *   selector 3, 0, char[64]          -> 0 = name of the current device written
 *   selector 6, 0, null              -> number of memory regions of the current device
 *   selector 7, region, VelkRegion*  -> 0 = {type (3 = information flash), start,
 *                                           segment size, segment count} written
 *   selector 10, 0, int32_t[8]       -> 0 = device values written; [2] = default supply, mV */
VELK430_API int32_t GetDeviceCfgInfo(int32_t selector, int32_t index, void* buffer);
/* Erases one segment: address, segment size, mode 1. 0 = erased. */
VELK430_API int32_t Erase(int32_t address, int32_t size, int32_t mode);
/* Programs a firmware file: TI-TXT, Intel HEX, S-record or ELF (path at most 1023 characters); called with 0, 1, 0. -1 = programmed. */
VELK430_API int32_t ProgramFile(char* path, int32_t a, int32_t b, int32_t c);
/* Compares a firmware file (any of those formats) with the target; called with 0. -1 = equal. */
VELK430_API int32_t VerifyFile(char* path, int32_t a);
/* Writes 1 to 16 bytes at an address. -1 = written. */
VELK430_API int32_t ProgramData(int32_t address, int32_t count, unsigned char* bytes);
/* Compares 1 to 16 bytes at an address. -1 = equal. */
VELK430_API int32_t VerifyData(int32_t address, int32_t count, unsigned char* bytes);
/* Blows the security fuse. Result ignored; check it with Reset(1). */
VELK430_API int32_t BlowFuse(void);
/* Resets the target; called with 1. -12 = the fuse is blown. */
VELK430_API int32_t Reset(int32_t mode);

/* Additions beyond the 15 functions above. A library may lack them: the
 * station looks them up when it starts (weak symbols here, GetProcAddress
 * on Windows) and, without them, skips what they answer. */

/* Checks a whole batch before the port opens, touching no programmer and no
 * unit: the port text and baud rate as InitCom would take them, the device
 * name as SetDeviceType would, the file read and checked against that
 * device as ProgramFile(path, 0, 1, 0) would, its information flash erased
 * only when eraseInfo is 1, serialCount bytes at serialAddress (count 0:
 * none) as ProgramData would write them after the file, and blowFuse 1: the
 * batch ends by blowing the fuse. 0 = sound; else the code of the first
 * problem found, and GetLastErrorText names it. */
VELK430_API int32_t CheckSetup(char* port, int32_t baud, char* device, char* path, int32_t eraseInfo,
                               int32_t serialAddress, int32_t serialCount, int32_t blowFuse);
/* Copies the reason for the last call's failure (what the library also
 * writes to standard error) into text, cut to size - 1 bytes and
 * terminated; "" when that call gave none. Returns the reason's length. */
VELK430_API int32_t GetLastErrorText(char* text, int32_t size);
/* Copies what a result code means to the operator and what to do about it,
 * one line, into text like GetLastErrorText. Returns its length; 0 for a
 * code the library never gives. */
VELK430_API int32_t GetResultText(int32_t code, char* text, int32_t size);

#ifdef __cplusplus
}
#endif

#endif /* VELK430_H */
