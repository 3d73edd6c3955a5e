#include "exchange/kline_activity_probe.h"

#include <cstdint>

#include "core/raw_log.h"
#include "core/result_writer.h"
#include "core/simulation_switch.h"
#include "exchange/frame_exchange.h"
#include "exchange/probe_catalogue.h"
#include "j2534/device_state.h"

namespace vx {

namespace {

constexpr std::string_view kSimulationResult =
    "{\"ok\":true,\"simulation\":true,\"noTx\":true,\"stage\":\"KLineActivityProbe simulation\","
    "\"physicalTxConfirmed\":false,\"note\":\"Simulation mode active: physical K-line probe "
    "skipped and no TX was sent.\",\"probes\":[],\"rxCount\":0,\"rx\":[]}";
constexpr std::string_view kNoWriterResult =
    "{\"ok\":false,\"stage\":\"no-writer\",\"message\":\"PassThruWriteMsgs is not available.\"}";
constexpr std::string_view kNote =
    "Physical pin-7 TX probe. If all attempts return ERR_TIMEOUT with txMessagesWritten=0 and "
    "analyzer sees no activity, the VCI/adapter/power path is not driving K-line.";

// Sends one row, reports it and logs it; true when the device confirmed it.
bool send_row(const CatalogueFrame& row, ResultWriter& probes, RxList& rx) {
    const WriteOutcome outcome = send_and_read(row.bytes, row.tx_flags, kDefaultProbeTimeoutMs, kActivityRowReplies);
    rx = {.json = outcome.rx, .count = outcome.rx_count};

    if (probes.str().size() > 1) probes.raw(",");
    append_attempt_object(probes, row.name, outcome);
    log_line(" KLineActivityProbe " + std::string(row.name) + attempt_log_fields(outcome));
    // A device may count a message as written and still report an error
    // (SAE J2534-1 04.04, 7.3.6): only a clean status with exactly one
    // message confirms that the frame went out.
    return outcome.rc == 0 && outcome.written == 1;
}

}  // namespace

std::string kline_activity_probe() {
    if (simulation_on()) {
        log_line(" KLineActivityProbe simulation: no TX");
        return std::string(kSimulationResult);
    }
    const j2534::DeviceState& state = j2534::device_state();
    if (state.channel_id == 0) return std::string(kChannelNotOpenAnswer);
    if (state.entry.write_msgs == nullptr) return std::string(kNoWriterResult);

    // Once, not between rows: a reply to one row stays visible to the next.
    clear_tx_rx_buffers();

    bool confirmed = false;
    RxList last_rx;
    ResultWriter probes;
    probes.raw("[");
    for (const CatalogueFrame& row : kKLineActivityFrames) {
        confirmed = send_row(row, probes, last_rx);
        if (confirmed) break;
    }
    probes.raw("]");

    ResultWriter w;
    w.raw("{\"ok\":").boolean(confirmed);
    w.raw(",\"stage\":\"KLineActivityProbe\",\"physicalTxConfirmed\":").boolean(confirmed);
    w.raw(",\"note\":\"").raw(kNote);
    w.raw("\",\"probes\":").raw(probes.str());
    w.raw(",\"rxCount\":").unsigned_number(last_rx.count);
    w.raw(",\"rx\":").raw(last_rx.json).raw("}");
    return w.take();
}

}  // namespace vx
