#include "exchange/kline_activity_probe.h"

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

// Each row waits at most this long for the device to take its frame.
constexpr std::uint32_t kWriteTimeoutMs = 1000;
// After each row: up to four messages, 100 ms per read, so a silent row
// costs one short read.
constexpr std::uint32_t kReadMaxMessages = 4;
constexpr std::uint32_t kReadTimeoutMs = 100;

constexpr std::string_view kSimulationResult =
    "{\"ok\":true,\"simulation\":true,\"noTx\":true,\"stage\":\"KLineActivityProbe simulation\","
    "\"physicalTxConfirmed\":false,\"note\":\"Simulation mode active: physical K-line probe "
    "skipped and no TX was sent.\",\"probes\":[],\"rxCount\":0,\"rx\":[]}";
constexpr std::string_view kNotConnectedResult =
    "{\"ok\":false,\"stage\":\"not-connected\",\"message\":\"ISO9141 channel is not open.\"}";
constexpr std::string_view kNoWriterResult =
    "{\"ok\":false,\"stage\":\"no-writer\",\"message\":\"PassThruWriteMsgs is not available.\"}";
constexpr std::string_view kNote =
    "Physical pin-7 TX probe. If all attempts return ERR_TIMEOUT with txMessagesWritten=0 and "
    "analyzer sees no activity, the VCI/adapter/power path is not driving K-line.";

}  // namespace

std::string KLineActivityProbe() {
    CoreState& state = core_state();
    if (state.simulation) {
        log_line(" KLineActivityProbe simulation: no TX");
        return std::string(kSimulationResult);
    }
    if (state.channel_id == 0) return std::string(kNotConnectedResult);
    if (state.entry.write_msgs == nullptr) return std::string(kNoWriterResult);

    // Once, not between rows: a reply to one row stays visible to the next.
    ClearTxRxBuffers();

    bool confirmed = false;
    std::string probes = "[";
    std::string last_rx = "[]";
    std::uint32_t last_rx_count = 0;
    bool first = true;
    for (const CatalogueFrame& row : kKLineActivityFrames) {
        const std::span<const std::uint8_t> frame = row.bytes;
        std::uint32_t written = 0;
        const j2534::Status rc = WriteFrame(frame.data(), static_cast<std::uint32_t>(frame.size()),
                                            row.txFlags, kWriteTimeoutMs, written);
        last_rx = ReadRxList(kReadMaxMessages, kReadTimeoutMs, last_rx_count);
        // A device may count a message as written and still report an error
        // (SAE J2534-1 04.04, 7.3.6): only a clean status with exactly one
        // message confirms that the frame went out.
        const bool row_confirmed = rc == 0 && written == 1;
        if (row_confirmed) confirmed = true;

        if (!first) probes.push_back(',');
        first = false;
        AttemptReport report;
        report.name = row.name;
        report.writeRc = rc;
        report.tx = frame;
        report.txFlags = row.txFlags;
        report.txMessagesWritten = written;
        report.rxCount = last_rx_count;
        report.rx = last_rx;
        AppendAttemptObject(probes, report);

        std::string line = " KLineActivityProbe ";
        line.append(row.name);
        line.append(" TX=");
        append_hex_bytes(line, frame.data(), frame.size());
        line.append(" flags=");
        append_unsigned(line, row.txFlags);
        line.append(" wrRc=");
        append_decimal(line, rc);
        line.append(" written=");
        append_unsigned(line, written);
        line.append(" rxCount=");
        append_unsigned(line, last_rx_count);
        log_line(line);

        if (row_confirmed) break;
    }
    probes.push_back(']');

    ResultWriter w;
    w.raw("{\"ok\":").boolean(confirmed);
    w.raw(",\"stage\":\"KLineActivityProbe\",\"physicalTxConfirmed\":").boolean(confirmed);
    w.raw(",\"note\":\"").raw(kNote);
    w.raw("\",\"probes\":").raw(probes);
    w.raw(",\"rxCount\":").unsigned_number(last_rx_count);
    w.raw(",\"rx\":").raw(last_rx).raw("}");
    return w.take();
}

}  // namespace vx

extern "C" VX_API int VX_CALL VX_KLineActivityProbe(char* buffer, int size) {
    return vx::guarded_result(buffer, size, [] { return vx::KLineActivityProbe(); });
}
