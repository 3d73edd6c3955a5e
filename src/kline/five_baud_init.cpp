#include "kline/five_baud_init.h"

#include <algorithm>
#include <span>

#include "core/raw_log.h"
#include "core/result_writer.h"
#include "core/simulation_switch.h"
#include "j2534/device_state.h"
#include "j2534/status_text.h"

namespace vx {

namespace {

constexpr char kSimulationResult[] =
    "{\"ok\":true,\"simulation\":true,\"noTx\":true,\"initOk\":true,\"warning\":false,"
    "\"stage\":\"FIVE_BAUD_INIT simulation\","
    "\"message\":\"Simulation 5-baud init OK. No J2534 command was transmitted.\",\"bytes\":[]}";
constexpr char kNotConnectedResult[] =
    "{\"ok\":false,\"stage\":\"not-connected\",\"error\":\"Run ISO9141 connect first.\"}";
constexpr char kCompletedMessage[] = "FIVE_BAUD_INIT completed.";

// Statuses typical of a bench without an ECU (ERR_FAILED) or of a driver
// without this optional ioctl (ERR_NOT_SUPPORTED, ERR_INVALID_IOCTL_ID,
// ERR_NOT_UNIQUE): the host may go on, so they are warnings, not failures.
bool is_warning_status(j2534::Status status) {
    return status == j2534::kErrNotSupported || status == j2534::kErrFailed ||
           status == j2534::kErrInvalidIoctlId || status == j2534::kErrNotUnique;
}

std::string init_result(std::uint32_t ecu_address, j2534::Status status, std::string_view message,
                        std::span<const unsigned char> key_bytes) {
    const bool init_ok = status == 0;
    const bool warning = is_warning_status(status);
    ResultWriter w;
    w.raw("{\"ok\":").boolean(init_ok || warning);
    w.raw(",\"initOk\":").boolean(init_ok);
    w.raw(",\"realInitOk\":").boolean(init_ok);
    w.raw(",\"realVci\":true,\"warning\":").boolean(warning);
    w.raw(",\"stage\":\"FIVE_BAUD_INIT\",\"rc\":").signed_number(status);
    w.raw(",\"rcName\":\"").text(j2534::status_name(status));
    w.raw("\",\"address\":").unsigned_number(ecu_address);
    w.raw(",\"message\":\"").text(message).raw("\",\"bytes\":[");
    for (std::size_t i = 0; i < key_bytes.size(); ++i) {
        if (i != 0) w.raw(",");
        w.unsigned_number(key_bytes[i]);
    }
    w.raw("]}");
    return w.take();
}

}  // namespace

std::string try_five_baud_init(std::uint32_t ecu_address) {
    j2534::DeviceState& state = j2534::device_state();

    if (simulation_on()) {
        log_line(" FIVE_BAUD_INIT simulation: no TX");
        state.confirm_ecu_init();
        return kSimulationResult;
    }
    if (state.channel_id == 0 || state.entry.ioctl == nullptr) return kNotConnectedResult;

    // FIVE_BAUD_INIT (SAE J2534-1 04.04, 7.3.8.4): the input holds the one
    // address byte sent at 5 baud (ISO 9141-2 addresses are 8-bit); the output
    // offers room for the key bytes and comes back with their number.
    unsigned char address = static_cast<unsigned char>(ecu_address & 0xFFu);
    unsigned char key_bytes[kFiveBaudKeyBytesCapacity] = {};
    SBYTE_ARRAY input{1, &address};
    SBYTE_ARRAY output{kFiveBaudKeyBytesCapacity, key_bytes};
    const j2534::Status status =
        j2534::to_status(state.entry.ioctl(state.channel_id, j2534::kIoctlFiveBaudInit, &input, &output));

    state.ecu_init_confirmed = false;
    if (status == 0) state.confirm_ecu_init();
    const std::string message =
        status == 0 ? std::string(kCompletedMessage) : j2534::status_hint_sentence("FIVE_BAUD_INIT", status);

    // The key bytes are taken from our own buffer, never from whatever the
    // library left in BytePtr, and never more than the room we offered.
    const auto key_count = std::min<unsigned long>(output.NumOfBytes, kFiveBaudKeyBytesCapacity);
    std::string result = init_result(ecu_address, status, message, std::span(key_bytes, key_count));

    log_line(" FIVE_BAUD_INIT addr=" + std::to_string(ecu_address) + " rc=" + std::to_string(status) + " " + message);
    return result;
}

}  // namespace vx
