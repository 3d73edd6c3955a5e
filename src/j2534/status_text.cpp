#include "j2534/status_text.h"

#include <algorithm>
#include <array>
#include <cstring>

#include "core/text_utils.h"

namespace vx::j2534 {

namespace {

// SAE J2534-1 04.04 return codes (section 7.4). 14 and 15 are not assigned.
enum class Code : Status {
    StatusNoError = 0,
    ErrNotSupported = 1,
    ErrInvalidChannelId = 2,
    ErrInvalidProtocolId = 3,
    ErrNullParameter = 4,
    ErrInvalidIoctlValue = 5,
    ErrInvalidFlags = 6,
    ErrFailed = 7,
    ErrDeviceNotConnected = 8,
    ErrTimeout = 9,
    ErrInvalidMsg = 10,
    ErrInvalidTimeInterval = 11,
    ErrExceededLimit = 12,
    ErrInvalidMsgId = 13,
    ErrDeviceInUse = 16,
    ErrInvalidIoctlId = 17,
    ErrBufferEmpty = 18,
    ErrBufferFull = 19,
    ErrBufferOverflow = 20,
    ErrPinInvalid = 21,
    ErrChannelInUse = 22,
    ErrMsgProtocolId = 23,
    ErrInvalidFilterId = 24,
    ErrNoFlowControl = 25,
    ErrNotUnique = 26,
    ErrInvalidBaudrate = 27,
    ErrInvalidDeviceId = 28,
};

constexpr Status kFirstCode = 0;
constexpr Status kLastCode = 28;
constexpr const char* kUnknownName = "ERR_UNKNOWN";

// Every code has its name here; a new enumerator without one fails the build
// (-Werror=switch), so there is deliberately no default.
const char* code_name(Code code) {
    switch (code) {
        case Code::StatusNoError: return "STATUS_NOERROR";
        case Code::ErrNotSupported: return "ERR_NOT_SUPPORTED";
        case Code::ErrInvalidChannelId: return "ERR_INVALID_CHANNEL_ID";
        case Code::ErrInvalidProtocolId: return "ERR_INVALID_PROTOCOL_ID";
        case Code::ErrNullParameter: return "ERR_NULL_PARAMETER";
        case Code::ErrInvalidIoctlValue: return "ERR_INVALID_IOCTL_VALUE";
        case Code::ErrInvalidFlags: return "ERR_INVALID_FLAGS";
        case Code::ErrFailed: return "ERR_FAILED";
        case Code::ErrDeviceNotConnected: return "ERR_DEVICE_NOT_CONNECTED";
        case Code::ErrTimeout: return "ERR_TIMEOUT";
        case Code::ErrInvalidMsg: return "ERR_INVALID_MSG";
        case Code::ErrInvalidTimeInterval: return "ERR_INVALID_TIME_INTERVAL";
        case Code::ErrExceededLimit: return "ERR_EXCEEDED_LIMIT";
        case Code::ErrInvalidMsgId: return "ERR_INVALID_MSG_ID";
        case Code::ErrDeviceInUse: return "ERR_DEVICE_IN_USE";
        case Code::ErrInvalidIoctlId: return "ERR_INVALID_IOCTL_ID";
        case Code::ErrBufferEmpty: return "ERR_BUFFER_EMPTY";
        case Code::ErrBufferFull: return "ERR_BUFFER_FULL";
        case Code::ErrBufferOverflow: return "ERR_BUFFER_OVERFLOW";
        case Code::ErrPinInvalid: return "ERR_PIN_INVALID";
        case Code::ErrChannelInUse: return "ERR_CHANNEL_IN_USE";
        case Code::ErrMsgProtocolId: return "ERR_MSG_PROTOCOL_ID";
        case Code::ErrInvalidFilterId: return "ERR_INVALID_FILTER_ID";
        case Code::ErrNoFlowControl: return "ERR_NO_FLOW_CONTROL";
        case Code::ErrNotUnique: return "ERR_NOT_UNIQUE";
        case Code::ErrInvalidBaudrate: return "ERR_INVALID_BAUDRATE";
        case Code::ErrInvalidDeviceId: return "ERR_INVALID_DEVICE_ID";
    }
    return kUnknownName;
}

const char* hint_text(Status status) {
    switch (status) {
        case static_cast<Status>(Code::ErrFailed):
            return "This is common when no ECU is connected, the K-line adapter has no vehicle "
                   "power/ground, or the VCI driver cannot complete the ECU handshake.";
        case static_cast<Status>(Code::ErrNotSupported):
        case static_cast<Status>(Code::ErrInvalidIoctlId):
            return "This VCI driver may not expose this optional J2534 IOCTL.";
        case static_cast<Status>(Code::ErrNotUnique):
            return "This VCI driver does not provide a unique/valid value for this optional request.";
        default:
            return "The ISO9141 channel may still be usable; verify on a powered vehicle.";
    }
}

std::string name_and_code(Status status) {
    std::string text = status_name(status);
    text += " (rc=";
    append_decimal(text, status);
    text += ')';
    return text;
}

// The library's own last-error text: read from a zeroed buffer of the size
// the core hands over, and never past it. A library that fills every byte
// without a terminating NUL gets its text cut at the buffer's end.
bool read_last_error(PTGETLASTERROR get_last_error, std::string& text) {
    std::array<char, kLastErrorBufferSize> buffer{};
    const Status rc = to_status(get_last_error(buffer.data()));
    if (rc != 0) return false;
    const auto end = std::find(buffer.begin(), buffer.end(), '\0');
    text.assign(buffer.begin(), end);
    return true;
}

bool says_nothing(const std::string& text) {
    return text == "OK" || text == "No Error" || text == "STATUS_NOERROR";
}

}  // namespace

const char* status_name(Status status) {
    if (status < kFirstCode || status > kLastCode) return kUnknownName;
    return code_name(static_cast<Code>(status));
}

std::string status_detail_text(const EntryPoints& entry, Status status) {
    if (entry.get_last_error == nullptr) return name_and_code(status);
    std::string library_text;
    if (!read_last_error(entry.get_last_error, library_text) || library_text.empty()) {
        return name_and_code(status);
    }
    if (status != 0 && says_nothing(library_text)) return name_and_code(status);
    std::string text = status_name(status);
    text += ": ";
    text += library_text;
    return text;
}

std::string status_hint_sentence(std::string_view operation, Status status) {
    std::string text(operation);
    text += " returned ";
    text += status_name(status);
    text += " (rc=";
    append_decimal(text, status);
    text += "). ";
    text += hint_text(status);
    return text;
}

}  // namespace vx::j2534
