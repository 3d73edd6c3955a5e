#include "j2534/status_text.h"

#include <algorithm>
#include <array>
#include <cstring>

#include "core/text_utils.h"

namespace vx::j2534 {

namespace {

constexpr const char* kUnknownName = "ERR_UNKNOWN";

// Every code has its name here; a new enumerator without one fails the build
// (-Werror=switch), so there is deliberately no default.
const char* code_name(StatusCode code) {
    switch (code) {
        case kStatusNoError: return "STATUS_NOERROR";
        case kErrNotSupported: return "ERR_NOT_SUPPORTED";
        case kErrInvalidChannelId: return "ERR_INVALID_CHANNEL_ID";
        case kErrInvalidProtocolId: return "ERR_INVALID_PROTOCOL_ID";
        case kErrNullParameter: return "ERR_NULL_PARAMETER";
        case kErrInvalidIoctlValue: return "ERR_INVALID_IOCTL_VALUE";
        case kErrInvalidFlags: return "ERR_INVALID_FLAGS";
        case kErrFailed: return "ERR_FAILED";
        case kErrDeviceNotConnected: return "ERR_DEVICE_NOT_CONNECTED";
        case kErrTimeout: return "ERR_TIMEOUT";
        case kErrInvalidMsg: return "ERR_INVALID_MSG";
        case kErrInvalidTimeInterval: return "ERR_INVALID_TIME_INTERVAL";
        case kErrExceededLimit: return "ERR_EXCEEDED_LIMIT";
        case kErrInvalidMsgId: return "ERR_INVALID_MSG_ID";
        case kErrDeviceInUse: return "ERR_DEVICE_IN_USE";
        case kErrInvalidIoctlId: return "ERR_INVALID_IOCTL_ID";
        case kErrBufferEmpty: return "ERR_BUFFER_EMPTY";
        case kErrBufferFull: return "ERR_BUFFER_FULL";
        case kErrBufferOverflow: return "ERR_BUFFER_OVERFLOW";
        case kErrPinInvalid: return "ERR_PIN_INVALID";
        case kErrChannelInUse: return "ERR_CHANNEL_IN_USE";
        case kErrMsgProtocolId: return "ERR_MSG_PROTOCOL_ID";
        case kErrInvalidFilterId: return "ERR_INVALID_FILTER_ID";
        case kErrNoFlowControl: return "ERR_NO_FLOW_CONTROL";
        case kErrNotUnique: return "ERR_NOT_UNIQUE";
        case kErrInvalidBaudrate: return "ERR_INVALID_BAUDRATE";
        case kErrInvalidDeviceId: return "ERR_INVALID_DEVICE_ID";
    }
    return kUnknownName;
}

const char* hint_text(Status status) {
    switch (status) {
        case kErrFailed:
            return "This is common when no ECU is connected, the K-line adapter has no vehicle "
                   "power/ground, or the VCI driver cannot complete the ECU handshake.";
        case kErrNotSupported:
        case kErrInvalidIoctlId:
            return "This VCI driver may not expose this optional J2534 IOCTL.";
        case kErrNotUnique:
            return "This VCI driver does not provide a unique/valid value for this optional request.";
        default:
            return "The ISO9141 channel may still be usable; verify on a powered vehicle.";
    }
}

std::string name_and_code(Status status) {
    return std::string(status_name(status)) + " (rc=" + std::to_string(status) + ")";
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
    if (status < kFirstStatusCode || status > kLastStatusCode) return kUnknownName;
    return code_name(static_cast<StatusCode>(status));
}

std::string status_detail_text(const EntryPoints& entry, Status status) {
    if (entry.get_last_error == nullptr) return name_and_code(status);
    std::string library_text;
    if (!read_last_error(entry.get_last_error, library_text) || library_text.empty()) {
        return name_and_code(status);
    }
    if (status != 0 && says_nothing(library_text)) return name_and_code(status);
    return std::string(status_name(status)) + ": " + library_text;
}

std::string status_hint_sentence(std::string_view operation, Status status) {
    return std::string(operation) + " returned " + std::string(status_name(status)) + " (rc=" + std::to_string(status) +
           "). " + std::string(hint_text(status));
}

}  // namespace vx::j2534
