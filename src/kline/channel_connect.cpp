#include "kline/channel_connect.h"

#include "core/core_state.h"
#include "core/raw_log.h"
#include "core/result_writer.h"
#include "j2534/passthru.h"
#include "j2534/read_vbatt.h"
#include "j2534/status_text.h"

namespace vx {

namespace {

constexpr char kSimulationResult[] =
    "{\"ok\":true,\"simulation\":true,\"noTx\":true,\"stage\":\"ISO9141 simulation\","
    "\"message\":\"Simulation ISO9141 connect OK. No J2534 command was transmitted.\"}";
constexpr char kNotOpenResult[] = "{\"ok\":false,\"stage\":\"not-open\",\"error\":\"Open a J2534 DLL first.\"}";

// Statuses reported for a configuration step whose entry point is missing.
constexpr j2534::Status kIoctlUnavailable = -1;

std::string connect_failed(const CoreState& state, j2534::Status status) {
    const std::string detail = j2534::status_detail_text(state.entry, status);
    ResultWriter w;
    w.raw("{\"ok\":false,\"stage\":\"PassThruConnect ISO9141\",\"rc\":")
        .signed_number(status)
        .raw(",\"rcName\":\"")
        .text(j2534::status_name(status))
        .raw("\",\"error\":\"")
        .text(detail)
        .raw("\"}");
    std::string line = " ISO9141 connect failed rc=";
    append_decimal(line, status);
    line += ' ';
    line += detail;
    log_line(line);
    return w.take();
}

// SET_CONFIG with the channel's data rate and loop-back off (SAE J2534-1
// 04.04, 7.3.8.2), so the device does not hand our own frames back as
// received messages.
j2534::Status configure_channel(const CoreState& state, unsigned long baud) {
    if (state.entry.ioctl == nullptr) {
        return kIoctlUnavailable;
    }
    SCONFIG parameters[2] = {{j2534::kParamDataRate, baud}, {j2534::kParamLoopback, 0}};
    SCONFIG_LIST list{2, parameters};
    return j2534::to_status(state.entry.ioctl(state.channel_id, j2534::kIoctlSetConfig, &list, nullptr));
}

}  // namespace

std::string ConnectIso9141Channel(std::uint32_t baudRate) {
    CoreState& state = core_state();

    if (state.simulation) {
        log_line(" ISO9141 connect simulation: no TX");
        state.channel_id = 1;  // placeholder that the other operations treat as open
        state.ecu_init_confirmed = true;
        state.kwp71_block_counter = 1;
        return kSimulationResult;
    }

    if (state.device_id == 0 || state.entry.connect == nullptr) {
        return kNotOpenResult;
    }

    // One channel at a time: release the earlier one first. Its status says
    // nothing useful about the new connect and is ignored.
    if (state.channel_id != 0 && state.entry.disconnect != nullptr) {
        state.entry.disconnect(state.channel_id);
        state.channel_id = 0;
        state.ecu_init_confirmed = false;
    }

    const std::uint32_t baud = baudRate != 0 ? baudRate : kDefaultIso9141Baud;

    unsigned long channel = 0;
    const j2534::Status connectStatus = j2534::to_status(state.entry.connect(
        state.device_id, j2534::kProtocolIso9141, j2534::kFlagIso9141KLineOnly, baud, &channel));
    if (connectStatus != 0) {
        return connect_failed(state, connectStatus);
    }

    state.channel_id = channel;
    state.kwp71_block_counter = 1;

    const j2534::Status setConfigStatus = configure_channel(state, baud);

    const j2534::VbattReading vbatt = j2534::read_vbatt();
    const j2534::Status vbattStatus = vbatt.rc;

    std::string vbattWarning;
    if (vbattStatus != 0) {
        vbattWarning = j2534::status_hint_sentence("READ_VBATT", vbattStatus);
        std::string line = " READ_VBATT warning rc=";
        append_decimal(line, vbattStatus);
        line += ' ';
        line += vbattWarning;
        log_line(line);
    }

    std::string okLine = " ISO9141 connect OK channelId=";
    append_unsigned(okLine, state.channel_id);
    okLine += " baud=";
    append_unsigned(okLine, baud);
    log_line(okLine);

    ResultWriter w;
    w.raw("{\"ok\":true,\"channelId\":")
        .unsigned_number(state.channel_id)
        .raw(",\"baud\":")
        .unsigned_number(baud)
        .raw(",\"setConfigRc\":")
        .signed_number(setConfigStatus)
        .raw(",\"readVBattRc\":")
        .signed_number(vbattStatus)
        .raw(",\"readVBattRcName\":\"")
        .text(j2534::status_name(vbattStatus))
        .raw("\",\"vbattMilliV\":")
        .unsigned_number(vbatt.milli_volts);
    if (vbattStatus != 0) {
        w.raw(",\"readVBattWarning\":\"").text(vbattWarning).raw("\"");
    }
    w.raw("}");
    return w.take();
}

}  // namespace vx
