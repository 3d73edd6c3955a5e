#include "exchange/protocol_traffic_probe.h"

#include <cstdint>

#include "core/raw_log.h"
#include "core/result_writer.h"
#include "core/simulation_switch.h"
#include "exchange/frame_exchange.h"
#include "exchange/probe_catalogue.h"
#include "j2534/device_state.h"
#include "platform/ascii_case.h"

namespace vx {

namespace {

constexpr std::string_view kSimulationResult =
    "{\"ok\":true,\"simulation\":true,\"noTx\":true,\"stage\":\"ProtocolTrafficProbe simulation\","
    "\"probe\":\"simulation listen only\",\"writeRc\":0,\"txHex\":\"\",\"txMessagesWritten\":0,"
    "\"rxCount\":0,\"rx\":[]}";

void log_traffic(std::string_view protocol, const WriteOutcome& outcome) {
    log_line(" ProtocolTrafficProbe " + std::string(protocol) + " TX=" + hex_bytes_text(outcome.tx) +
             " wrRc=" + std::to_string(outcome.rc) + " rxCount=" + std::to_string(outcome.rx_count));
}

// True when the protocol text names KWP71 in any ASCII case, anywhere ("KWP71
// audit" does, "KWP7" and "ISO9141" do not).
bool selects_kwp71(std::string_view protocol) {
    return ascii_lowercase(std::string(protocol)).find("kwp71") != std::string::npos;
}

std::string traffic_result(std::string_view protocol, bool kwp71, bool ok, const WriteOutcome& outcome) {
    ResultWriter w;
    w.raw("{\"ok\":").boolean(ok);
    w.raw(",\"stage\":\"ProtocolTrafficProbe\",\"protocol\":\"").text(protocol);
    w.raw("\",\"probe\":\"").raw(kwp71 ? kKwp71Keepalive.name : std::string_view("passive listen only")).raw("\"");
    append_write_status(w, outcome.rc);
    append_tx_hex(w, outcome.tx);
    append_messages_written(w, outcome.written);
    append_replies(w, outcome.rx_count, outcome.rx);
    w.raw("}");
    return w.take();
}

}  // namespace

std::string protocol_traffic_probe(std::string_view protocol) {
    if (simulation_on()) {
        log_line(" ProtocolTrafficProbe simulation: no TX");
        return std::string(kSimulationResult);
    }
    const j2534::DeviceState& state = j2534::device_state();
    if (state.channel_id == 0) return std::string(kChannelNotOpenAnswer);
    if (!state.ecu_init_confirmed) {
        log_line(
            " BUILD322 ProtocolTrafficProbe allowed with ECU init not confirmed because "
            "ISO9141 channel is open for TX/RX audit");
    }

    const bool kwp71 = selects_kwp71(protocol);
    clear_tx_rx_buffers();

    WriteOutcome outcome;
    if (kwp71) {
        // An empty KWP71 acknowledge block with the fixed counter byte 01: it
        // keeps an awake ECU talking without touching the block counter of
        // the actuator commands.
        outcome.tx = kKwp71Keepalive.bytes;
        outcome.rc = write_frame(outcome.tx, kKwp71Keepalive.tx_flags, kDefaultProbeTimeoutMs, outcome.written);
    }
    const RxList rx = read_rx_list(kTrafficListening);
    outcome.rx_count = rx.count;
    outcome.rx = rx.json;
    const bool ok = kwp71 ? (outcome.rc == 0 && outcome.written == 1) : true;
    std::string result = traffic_result(protocol, kwp71, ok, outcome);
    log_traffic(protocol, outcome);
    return result;
}

}  // namespace vx
