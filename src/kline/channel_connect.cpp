#include "kline/channel_connect.h"

#include "core/raw_log.h"
#include "core/result_writer.h"
#include "core/simulation_switch.h"
#include "j2534/device_state.h"
#include "j2534/read_vbatt.h"
#include "j2534/status_text.h"

namespace vx {

namespace {

constexpr char kSimulationResult[] =
    "{\"ok\":true,\"simulation\":true,\"noTx\":true,\"stage\":\"ISO9141 simulation\","
    "\"message\":\"Simulation ISO9141 connect OK. No J2534 command was transmitted.\"}";
constexpr char kNotOpenResult[] = "{\"ok\":false,\"stage\":\"not-open\",\"error\":\"Open a J2534 DLL first.\"}";

std::string connect_failed(const j2534::DeviceState& state, j2534::Status status) {
    const std::string detail = j2534::status_detail_text(state.entry, status);
    ResultWriter w;
    w.raw("{\"ok\":false,\"stage\":\"PassThruConnect ISO9141\",\"rc\":").signed_number(status);
    w.raw(",\"rcName\":\"").text(j2534::status_name(status));
    w.raw("\",\"error\":\"").text(detail).raw("\"}");
    log_line(" ISO9141 connect failed rc=" + std::to_string(status) + " " + detail);
    return w.take();
}

// SET_CONFIG with the channel's data rate and loop-back off (SAE J2534-1
// 04.04, 7.3.8.2), so the device does not hand our own frames back as
// received messages.
j2534::Status configure_channel(const j2534::DeviceState& state, unsigned long baud) {
    SCONFIG parameters[2] = {{j2534::kParamDataRate, baud}, {j2534::kParamLoopback, 0}};
    SCONFIG_LIST list{2, parameters};
    return j2534::to_status(state.entry.ioctl(state.channel_id, j2534::kIoctlSetConfig, &list, nullptr));
}

// SAE J2534-1 04.04, 7.3.7: a device blocks every received frame of a new
// channel until a filter passes it. One PASS_FILTER whose mask and pattern
// are a single 00 byte matches every frame, so the ECU's replies reach
// PassThruReadMsgs. The filter ends with the channel.
struct PassFilter {
    j2534::Status rc = j2534::kStatusNoError;
    std::string warning;  // empty when the filter is set
};

constexpr char kNoFilterEntryWarning[] =
    "This J2534 DLL does not export PassThruStartMsgFilter; a VCI that blocks received frames until a "
    "filter is set will show no ECU replies.";

PassFilter set_pass_filter(const j2534::DeviceState& state) {
    PassFilter filter;
    if (state.entry.start_msg_filter == nullptr) {
        filter.rc = j2534::kCodeUnavailable;
        filter.warning = kNoFilterEntryWarning;
    } else {
        PASSTHRU_MSG mask{};
        mask.ProtocolID = j2534::kProtocolIso9141;
        mask.DataSize = 1;
        PASSTHRU_MSG pattern = mask;
        unsigned long filter_id = 0;
        filter.rc = j2534::to_status(
            state.entry.start_msg_filter(state.channel_id, j2534::kPassFilter, &mask, &pattern, nullptr, &filter_id));
        if (filter.rc == 0) return filter;
        filter.warning = j2534::status_hint_sentence("PassThruStartMsgFilter", filter.rc);
    }
    log_line(" PassThruStartMsgFilter warning rc=" + std::to_string(filter.rc) + " " + filter.warning);
    return filter;
}

// The voltage is only reported; a failed reading leaves the channel usable
// and adds a warning.
std::string vbatt_warning(j2534::Status rc) {
    if (rc == 0) return {};
    std::string warning = j2534::status_hint_sentence("READ_VBATT", rc);
    log_line(" READ_VBATT warning rc=" + std::to_string(rc) + " " + warning);
    return warning;
}

std::string connected_result(const j2534::DeviceState& state, std::uint32_t baud) {
    const PassFilter filter = set_pass_filter(state);
    const j2534::Status set_config_status = configure_channel(state, baud);
    const j2534::VbattReading vbatt = j2534::read_vbatt();
    const std::string warning = vbatt_warning(vbatt.rc);

    log_line(" ISO9141 connect OK channelId=" + std::to_string(state.channel_id) + " baud=" + std::to_string(baud));

    ResultWriter w;
    w.raw("{\"ok\":true,\"channelId\":").unsigned_number(state.channel_id);
    w.raw(",\"baud\":").unsigned_number(baud);
    w.raw(",\"setConfigRc\":").signed_number(set_config_status);
    j2534::append_vbatt_capture(w, vbatt);
    if (vbatt.rc != 0) w.raw(",\"readVBattWarning\":\"").text(warning).raw("\"");
    if (filter.rc != 0) {
        w.raw(",\"passFilterRc\":").signed_number(filter.rc);
        w.raw(",\"passFilterRcName\":\"").text(j2534::status_name(filter.rc));
        w.raw("\",\"passFilterWarning\":\"").text(filter.warning).raw("\"");
    }
    w.raw("}");
    return w.take();
}

// Only marks a channel as open: the placeholder 1, which the other
// operations treat as open, with the ECU taken as initialised.
std::string simulated_connect(j2534::DeviceState& state) {
    log_line(" ISO9141 connect simulation: no TX");
    state.start_channel(1);
    state.confirm_ecu_init();
    return kSimulationResult;
}

}  // namespace

std::string connect_iso9141_channel(std::uint32_t baud_rate) {
    j2534::DeviceState& state = j2534::device_state();
    if (simulation_on()) return simulated_connect(state);
    if (state.device_id == 0) return kNotOpenResult;

    // One channel at a time: release the earlier one first.
    state.release_channel();

    const std::uint32_t baud = baud_rate != 0 ? baud_rate : kDefaultIso9141Baud;
    unsigned long channel = 0;
    const j2534::Status connect_status = j2534::to_status(state.entry.connect(
        state.device_id, j2534::kProtocolIso9141, j2534::kFlagIso9141KLineOnly, baud, &channel));
    if (connect_status != 0) return connect_failed(state, connect_status);

    state.start_channel(channel);
    return connected_result(state, baud);
}

}  // namespace vx
