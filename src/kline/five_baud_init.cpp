#include "kline/five_baud_init.h"

#include <algorithm>

#include "core/core_state.h"
#include "core/raw_log.h"
#include "core/result_writer.h"
#include "j2534/passthru.h"
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
    return status == 1 || status == 7 || status == 17 || status == 26;
}

}  // namespace

std::string TryFiveBaudInit(std::uint32_t ecuAddress) {
    CoreState& state = core_state();

    if (state.simulation) {
        log_line(" FIVE_BAUD_INIT simulation: no TX");
        state.ecu_init_confirmed = true;
        state.kwp71_block_counter = 1;
        return kSimulationResult;
    }

    if (state.channel_id == 0 || state.entry.ioctl == nullptr) {
        return kNotConnectedResult;
    }

    // FIVE_BAUD_INIT (SAE J2534-1 04.04, 7.3.8.4): the input holds the one
    // address byte sent at 5 baud (ISO 9141-2 addresses are 8-bit); the output
    // offers room for the key bytes and comes back with their number.
    unsigned char address = static_cast<unsigned char>(ecuAddress & 0xFFu);
    unsigned char keyBytes[kFiveBaudKeyBytesCapacity] = {};
    SBYTE_ARRAY input{1, &address};
    SBYTE_ARRAY output{kFiveBaudKeyBytesCapacity, keyBytes};

    const j2534::Status status =
        j2534::to_status(state.entry.ioctl(state.channel_id, j2534::kIoctlFiveBaudInit, &input, &output));

    const bool initOk = status == 0;
    const bool warning = is_warning_status(status);
    state.ecu_init_confirmed = initOk;

    std::string message;
    if (initOk) {
        state.kwp71_block_counter = 1;
        message = kCompletedMessage;
    } else {
        message = j2534::status_hint_sentence("FIVE_BAUD_INIT", status);
    }

    // The key bytes are taken from our own buffer, never from whatever the
    // library left in BytePtr, and never more than the room we offered.
    const unsigned long keyCount =
        std::min<unsigned long>(output.NumOfBytes, static_cast<unsigned long>(kFiveBaudKeyBytesCapacity));

    ResultWriter w;
    w.raw("{\"ok\":")
        .boolean(initOk || warning)
        .raw(",\"initOk\":")
        .boolean(initOk)
        .raw(",\"realInitOk\":")
        .boolean(initOk)
        .raw(",\"realVci\":true,\"warning\":")
        .boolean(warning)
        .raw(",\"stage\":\"FIVE_BAUD_INIT\",\"rc\":")
        .signed_number(status)
        .raw(",\"rcName\":\"")
        .text(j2534::status_name(status))
        .raw("\",\"address\":")
        .unsigned_number(ecuAddress)
        .raw(",\"message\":\"")
        .text(message)
        .raw("\",\"bytes\":[");
    for (unsigned long i = 0; i < keyCount; ++i) {
        if (i != 0) {
            w.raw(",");
        }
        w.unsigned_number(keyBytes[i]);
    }
    w.raw("]}");

    std::string line = " FIVE_BAUD_INIT addr=";
    append_unsigned(line, ecuAddress);
    line += " rc=";
    append_decimal(line, status);
    line += ' ';
    line += message;
    log_line(line);

    return w.take();
}

}  // namespace vx
