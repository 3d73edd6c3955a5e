// The SAE J2534-1 04.04 PassThru interface as the core uses it.
//
// Types follow the standard header: unsigned long fields and ids, long
// statuses, WINAPI (stdcall) entry points on Windows. On Windows unsigned long
// is 4 bytes and PASSTHRU_MSG is exactly 4152 bytes. On Linux x86_64 the same
// declarations give 8-byte fields (a 4176-byte message), which is what C
// PassThru libraries built for Linux use.
#pragma once

#include <cstddef>

#if defined(_WIN32)
#  define VX_PASSTHRU_CALL __stdcall
#else
#  define VX_PASSTHRU_CALL
#endif

extern "C" {

// SAE J2534-1 04.04, section 7.2: the message structure.
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

typedef long(VX_PASSTHRU_CALL* PTOPEN)(void* pName, unsigned long* pDeviceID);
typedef long(VX_PASSTHRU_CALL* PTCLOSE)(unsigned long DeviceID);
typedef long(VX_PASSTHRU_CALL* PTCONNECT)(unsigned long DeviceID, unsigned long ProtocolID,
                                          unsigned long Flags, unsigned long BaudRate,
                                          unsigned long* pChannelID);
typedef long(VX_PASSTHRU_CALL* PTDISCONNECT)(unsigned long ChannelID);
typedef long(VX_PASSTHRU_CALL* PTREADMSGS)(unsigned long ChannelID, PASSTHRU_MSG* pMsg,
                                           unsigned long* pNumMsgs, unsigned long Timeout);
typedef long(VX_PASSTHRU_CALL* PTWRITEMSGS)(unsigned long ChannelID, PASSTHRU_MSG* pMsg,
                                            unsigned long* pNumMsgs, unsigned long Timeout);
typedef long(VX_PASSTHRU_CALL* PTIOCTL)(unsigned long ChannelID, unsigned long IoctlID,
                                        void* pInput, void* pOutput);
typedef long(VX_PASSTHRU_CALL* PTGETLASTERROR)(char* pErrorDescription);

}  // extern "C"

namespace vx::j2534 {

inline constexpr std::size_t kMsgDataCapacity = sizeof(PASSTHRU_MSG{}.Data);

// Protocol ids and connect flags (J2534-1 04.04, 7.3.4).
inline constexpr unsigned long kProtocolIso9141 = 3;
inline constexpr unsigned long kFlagIso9141KLineOnly = 0x1000;

// TxFlags: ISO9141_NO_CHECKSUM tells the device not to append a checksum.
inline constexpr unsigned long kTxFlagNoChecksum = 0x200;

// Ioctl ids (J2534-1 04.04, 7.3.8).
inline constexpr unsigned long kIoctlSetConfig = 2;
inline constexpr unsigned long kIoctlReadVbatt = 3;
inline constexpr unsigned long kIoctlFiveBaudInit = 4;
inline constexpr unsigned long kIoctlClearTxBuffer = 7;
inline constexpr unsigned long kIoctlClearRxBuffer = 8;

// Configuration parameter ids for SET_CONFIG.
inline constexpr unsigned long kParamDataRate = 1;
inline constexpr unsigned long kParamLoopback = 3;

// The size of the zeroed buffer handed to PassThruGetLastError.
inline constexpr std::size_t kLastErrorBufferSize = 512;

}  // namespace vx::j2534

#if defined(_WIN32)
static_assert(sizeof(unsigned long) == 4, "Windows ABI: unsigned long is 32-bit");
static_assert(sizeof(PASSTHRU_MSG) == 4152, "Windows ABI: PASSTHRU_MSG is 4152 bytes");
static_assert(offsetof(PASSTHRU_MSG, Data) == 24, "Windows ABI: Data follows six 32-bit fields");
static_assert(sizeof(SCONFIG) == 8, "Windows ABI: SCONFIG is two 32-bit fields");
#  if defined(_WIN64)
static_assert(sizeof(SCONFIG_LIST) == 16 && sizeof(SBYTE_ARRAY) == 16, "x64 pointer alignment");
#  else
static_assert(sizeof(SCONFIG_LIST) == 8 && sizeof(SBYTE_ARRAY) == 8, "x86 list records");
#  endif
#else
static_assert(sizeof(PASSTHRU_MSG) == 6 * sizeof(unsigned long) + 4128,
              "PASSTHRU_MSG has no padding");
#endif
