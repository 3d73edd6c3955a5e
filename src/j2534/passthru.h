// The SAE J2534-1 04.04 PassThru interface: its types and the values the core
// and the simulated device use.
//
// Types follow the standard header: unsigned long fields and ids, long
// statuses, WINAPI (stdcall) entry points on Windows. On Windows unsigned long
// is 4 bytes and PASSTHRU_MSG is exactly 4152 bytes. On Linux x86_64 the same
// declarations give 8-byte fields (a 4176-byte message), which is what C
// PassThru libraries built for Linux use.
#pragma once

#include <cstddef>
#include <cstdint>

#include "platform/os.h"

extern "C" {

// Section 7.2: the message structure.
struct PASSTHRU_MSG {
    unsigned long ProtocolID;
    unsigned long RxStatus;
    unsigned long TxFlags;
    unsigned long Timestamp;
    unsigned long DataSize;
    unsigned long ExtraDataIndex;
    unsigned char Data[4128];
};

struct SCONFIG {
    unsigned long Parameter;
    unsigned long Value;
};

struct SCONFIG_LIST {
    unsigned long NumOfParams;
    SCONFIG* ConfigPtr;
};

struct SBYTE_ARRAY {
    unsigned long NumOfBytes;
    unsigned char* BytePtr;
};

typedef long(VX_WINAPI* PTOPEN)(void* pName, unsigned long* pDeviceID);
typedef long(VX_WINAPI* PTCLOSE)(unsigned long DeviceID);
typedef long(VX_WINAPI* PTCONNECT)(unsigned long DeviceID, unsigned long ProtocolID, unsigned long Flags,
                                   unsigned long BaudRate, unsigned long* pChannelID);
typedef long(VX_WINAPI* PTDISCONNECT)(unsigned long ChannelID);
typedef long(VX_WINAPI* PTREADMSGS)(unsigned long ChannelID, PASSTHRU_MSG* pMsg, unsigned long* pNumMsgs,
                                    unsigned long Timeout);
typedef long(VX_WINAPI* PTWRITEMSGS)(unsigned long ChannelID, PASSTHRU_MSG* pMsg, unsigned long* pNumMsgs,
                                     unsigned long Timeout);
typedef long(VX_WINAPI* PTIOCTL)(unsigned long ChannelID, unsigned long IoctlID, void* pInput, void* pOutput);
typedef long(VX_WINAPI* PTGETLASTERROR)(char* pErrorDescription);
typedef long(VX_WINAPI* PTSTARTMSGFILTER)(unsigned long ChannelID, unsigned long FilterType, PASSTHRU_MSG* pMaskMsg,
                                          PASSTHRU_MSG* pPatternMsg, PASSTHRU_MSG* pFlowControlMsg,
                                          unsigned long* pMsgID);
typedef long(VX_WINAPI* PTSTOPMSGFILTER)(unsigned long ChannelID, unsigned long MsgID);

}  // extern "C"

namespace vx::j2534 {

// A J2534 status as the core shows it: signed 32-bit.
using Status = std::int32_t;

// A PassThru function's long return value as a 32-bit status (on LP64 Linux
// long is wider; only the low 32 bits are the J2534 code).
constexpr Status to_status(long rc) {
    return static_cast<Status>(static_cast<std::uint32_t>(static_cast<unsigned long>(rc)));
}

// Section 7.4: the return codes. 14 and 15 are not assigned.
enum StatusCode : Status {
    kStatusNoError = 0,
    kErrNotSupported = 1,
    kErrInvalidChannelId = 2,
    kErrInvalidProtocolId = 3,
    kErrNullParameter = 4,
    kErrInvalidIoctlValue = 5,
    kErrInvalidFlags = 6,
    kErrFailed = 7,
    kErrDeviceNotConnected = 8,
    kErrTimeout = 9,
    kErrInvalidMsg = 10,
    kErrInvalidTimeInterval = 11,
    kErrExceededLimit = 12,
    kErrInvalidMsgId = 13,
    kErrDeviceInUse = 16,
    kErrInvalidIoctlId = 17,
    kErrBufferEmpty = 18,
    kErrBufferFull = 19,
    kErrBufferOverflow = 20,
    kErrPinInvalid = 21,
    kErrChannelInUse = 22,
    kErrMsgProtocolId = 23,
    kErrInvalidFilterId = 24,
    kErrNoFlowControl = 25,
    kErrNotUnique = 26,
    kErrInvalidBaudrate = 27,
    kErrInvalidDeviceId = 28,
};
inline constexpr Status kFirstStatusCode = kStatusNoError;
inline constexpr Status kLastStatusCode = kErrInvalidDeviceId;

// Section 7.3.4: protocol ids (the core uses only ISO 9141).
enum ProtocolId : unsigned long { kProtocolIso9141 = 3 };

// PassThruConnect flags. ISO9141_NO_CHECKSUM (0x200) also stands in TxFlags,
// where it tells the device not to append the ISO 9141-2 checksum to one
// message.
inline constexpr unsigned long kFlagIso9141NoChecksum = 0x200;
inline constexpr unsigned long kFlagIso9141KLineOnly = 0x1000;

// Section 7.3.8: the ioctl ids the core uses.
enum IoctlId : unsigned long {
    kIoctlSetConfig = 2, kIoctlReadVbatt = 3, kIoctlFiveBaudInit = 4, kIoctlClearTxBuffer = 7, kIoctlClearRxBuffer = 8,
};

// SET_CONFIG parameter ids.
enum ConfigParameter : unsigned long { kParamDataRate = 1, kParamLoopback = 3 };

// Section 7.3.7: PassThruStartMsgFilter filter types. A device blocks every
// received frame of a channel until a pass filter lets it through.
enum FilterType : unsigned long { kPassFilter = 1, kBlockFilter = 2, kFlowControlFilter = 3 };

inline constexpr std::size_t kMsgDataCapacity = sizeof(PASSTHRU_MSG{}.Data);

// The size of the zeroed buffer handed to PassThruGetLastError.
inline constexpr std::size_t kLastErrorBufferSize = 512;

}  // namespace vx::j2534

// The layout every PassThru library is built with.
static_assert(sizeof(PASSTHRU_MSG) == 6 * sizeof(unsigned long) + 4128, "PASSTHRU_MSG has no padding");
static_assert(offsetof(PASSTHRU_MSG, Data) == 6 * sizeof(unsigned long), "Data follows the six fields");
static_assert(sizeof(SCONFIG) == 2 * sizeof(unsigned long), "SCONFIG is two fields");
static_assert(sizeof(SCONFIG_LIST) == 2 * sizeof(void*) && sizeof(SBYTE_ARRAY) == 2 * sizeof(void*),
              "a count and a pointer, aligned to the pointer");
static_assert(!vx::platform::is_windows() || sizeof(unsigned long) == 4, "Windows ABI: unsigned long is 32-bit");
static_assert(!vx::platform::is_windows() || sizeof(PASSTHRU_MSG) == 4152, "Windows ABI: PASSTHRU_MSG is 4152 bytes");
