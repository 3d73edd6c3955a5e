#include "exchange/protocol_traffic_probe.h"

#include <cstdint>
#include <span>

#include "VXArvessaDiagCore.h"
#include "core/core_state.h"
#include "core/export_guard.h"
#include "core/raw_log.h"
#include "core/result_writer.h"
#include "exchange/frame_exchange.h"
#include "exchange/probe_catalogue.h"

namespace vx {

namespace {

constexpr std::uint32_t kKeepaliveWriteTimeoutMs = 1000;
// Listening ends at the first 200 ms without a message or after eight.
constexpr std::uint32_t kReadMaxMessages = 8;
constexpr std::uint32_t kReadTimeoutMs = 200;

constexpr std::string_view kSimulationResult =
    "{\"ok\":true,\"simulation\":true,\"noTx\":true,\"stage\":\"ProtocolTrafficProbe simulation\","
    "\"probe\":\"simulation listen only\",\"writeRc\":0,\"txHex\":\"\",\"txMessagesWritten\":0,"
    "\"rxCount\":0,\"rx\":[]}";
constexpr std::string_view kNotConnectedResult =
    "{\"ok\":false,\"stage\":\"not-connected\",\"message\":\"ISO9141 channel is not open.\"}";

}  // namespace

bool SelectsKwp71(std::string_view protocol) {
    std::string upper(protocol);
    for (char& c : upper) {
        if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
    }
    return upper.find("KWP71") != std::string::npos;
}

std::string ProtocolTrafficProbe(std::string_view protocol) {
    CoreState& state = core_state();
    if (state.simulation) {
        log_line(" ProtocolTrafficProbe simulation: no TX");
        return std::string(kSimulationResult);
    }
    if (state.channel_id == 0) return std::string(kNotConnectedResult);
    if (!state.ecu_init_confirmed) {
        log_line(
            " BUILD322 ProtocolTrafficProbe allowed with ECU init not confirmed because "
            "ISO9141 channel is open for TX/RX audit");
    }

    const bool kwp71 = SelectsKwp71(protocol);
    ClearTxRxBuffers();

    j2534::Status rc = 0;
    std::uint32_t written = 0;
    std::span<const std::uint8_t> tx;
    if (kwp71) {
        // An empty KWP71 acknowledge block with the fixed counter byte 01: it
        // keeps an awake ECU talking without touching the block counter of
        // the actuator commands.
        tx = kKwp71Keepalive.bytes;
        rc = WriteFrame(tx.data(), static_cast<std::uint32_t>(tx.size()), kKwp71Keepalive.txFlags,
                        kKeepaliveWriteTimeoutMs, written);
    }
    std::uint32_t rx_count = 0;
    const std::string rx = ReadRxList(kReadMaxMessages, kReadTimeoutMs, rx_count);
    const bool ok = kwp71 ? (rc == 0 && written == 1) : true;

    ResultWriter w;
    w.raw("{\"ok\":").boolean(ok);
    w.raw(",\"stage\":\"ProtocolTrafficProbe\",\"protocol\":\"").text(protocol);
    w.raw("\",\"probe\":\"")
        .raw(kwp71 ? kKwp71Keepalive.name : std::string_view("passive listen only"));
    w.raw("\",\"writeRc\":").signed_number(rc);
    w.raw(",\"writeRcName\":\"").text(j2534::status_name(rc));
    w.raw("\",\"txHex\":\"").hex(tx.data(), tx.size());
    w.raw("\",\"txMessagesWritten\":").unsigned_number(written);
    w.raw(",\"rxCount\":").unsigned_number(rx_count);
    w.raw(",\"rx\":").raw(rx).raw("}");

    std::string line = " ProtocolTrafficProbe ";
    line.append(protocol);
    line.append(" TX=");
    append_hex_bytes(line, tx.data(), tx.size());
    line.append(" wrRc=");
    append_decimal(line, rc);
    line.append(" rxCount=");
    append_unsigned(line, rx_count);
    log_line(line);
    return w.take();
}

}  // namespace vx

extern "C" VX_API int VX_CALL VX_ProtocolTrafficProbe(const char* probe, char* buffer, int size) {
    return vx::guarded_result(buffer, size, [probe] {
        return vx::ProtocolTrafficProbe(probe != nullptr ? std::string_view(probe)
                                                         : std::string_view());
    });
}
