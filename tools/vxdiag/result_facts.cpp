#include "result_facts.h"

#include "obd_decode.h"

#include <algorithm>

#include <fmt/format.h>
#include <fmt/ranges.h>

namespace vxdiag {

namespace {

std::string volts(std::int64_t millivolts) { return fmt::format("{:.1f} V", static_cast<double>(millivolts) / 1000.0); }

// "TX 03 01 09 03 STATUS_NOERROR written 1"
std::string tx_fact(const Json& j, const char* hex_key, const char* rc_key, const char* name_key,
                    const char* written_key) {
    std::string fact = "TX " + text_of(j, hex_key);
    const std::string status = status_text(j, rc_key, name_key);
    if (!status.empty()) fact += " " + status;
    if (const auto written = integer_of(j, written_key)) fact += fmt::format(" written {}", *written);
    return fact;
}

std::string tx_fact(const Json& j) { return tx_fact(j, "txHex", "writeRc", "writeRcName", "txMessagesWritten"); }

// The replies, and "no reply" unless `silence_said` (a reading says what the
// silence means instead).
void add_replies(Facts& facts, const std::vector<std::string>& hexes, std::optional<std::int64_t> total,
                 bool silence_said = false) {
    for (const std::string& hex : hexes) facts.items.push_back("RX " + hex);
    const std::int64_t shown = static_cast<std::int64_t>(hexes.size());
    if (total && *total != shown) {
        facts.items.push_back(fmt::format("{} replies in all", *total));
    } else if (hexes.empty() && !silence_said) {
        facts.items.emplace_back("no reply");
    }
}

void add_battery(Facts& facts, const Json& j) {
    if (!j.contains("readVBattRc")) return;
    if (integer_of(j, "readVBattRc").value_or(-1) == 0) {
        facts.items.push_back("battery " + volts(integer_of(j, "vbattMilliV").value_or(0)));
    } else {
        facts.items.push_back("battery unread: " + status_text(j, "readVBattRc", "readVBattRcName"));
    }
}

std::string hex_bytes(const Json& bytes) {
    std::string text;
    if (!bytes.is_array()) return text;
    for (const Json& byte : bytes) {
        if (!byte.is_number_integer()) continue;
        if (!text.empty()) text += ' ';
        text += fmt::format("{:02X}", byte.get<std::int64_t>());
    }
    return text;
}

// The read-only probe of the fault and live-data reads, and the probe a
// command runs instead when it may not transmit. A read decodes its replies.
void describe_probe(Facts& facts, const Json& j, StepKind kind) {
    if (const std::string reason = text_of(j, "fallbackReason"); !reason.empty()) {
        facts.items.push_back("probe instead of command: " + reason);
    }
    facts.items.push_back(tx_fact(j));
    const std::vector<std::string> replies = reply_hexes(j, "rx");
    const bool reading = kind == StepKind::Faults || kind == StepKind::LiveData;
    add_replies(facts, replies, integer_of(j, "rxCount"), reading);
    add_battery(facts, j);
    if (kind == StepKind::Faults) facts.items.push_back(fault_memory_fact(replies));
    if (kind == StepKind::LiveData) facts.items.push_back(supported_pids_fact(replies));
    if (const auto rows = j.find("faults"); rows != j.end() && rows->is_array() && !rows->empty()) {
        facts.items.push_back(fmt::format("{} fault rows from the core", rows->size()));
    }
}

void describe_command(Facts& facts, const Json& j, StepKind kind) {
    facts.items.emplace_back(flag_of(j, "commandSent") ? "sent" : "not sent");
    if (kind == StepKind::Actuator && j.contains("sequence")) {
        facts.items.push_back(fmt::format("block counter {} -> {}", integer_of(j, "sequence").value_or(0),
                                          integer_of(j, "nextSequence").value_or(0)));
    }
    facts.items.push_back(tx_fact(j));
    std::vector<std::string> replies = reply_hexes(j, "rx");
    if (j.contains("stopHex")) {
        facts.items.push_back("stop " + tx_fact(j, "stopHex", "stopRc", "stopRcName", "stopMessagesWritten"));
        for (std::string& hex : reply_hexes(j, "stopRx")) replies.push_back(std::move(hex));
    } else if (integer_of(j, "stopMessagesWritten").value_or(0) != 0 || integer_of(j, "stopRc").value_or(0) != 0) {
        facts.items.push_back(fmt::format("stop frame rc {} written {}", integer_of(j, "stopRc").value_or(0),
                                          integer_of(j, "stopMessagesWritten").value_or(0)));
    }
    add_replies(facts, replies, integer_of(j, "rxCount"));
    add_battery(facts, j);
}

void describe_devices(Facts& facts, const Json& j) {
    const auto it = j.find("devices");
    if (it == j.end() || !it->is_array()) return;
    facts.items.push_back(it->empty() ? std::string("no registered PassThru libraries")
                                      : fmt::format("{} registered PassThru libraries", it->size()));
    for (const Json& device : *it) {
        if (!device.is_object()) continue;
        facts.details.push_back(fmt::format("{}  {}  [{}, key {}]", text_of(device, "name"), text_of(device, "dll"),
                                            text_of(device, "source"), text_of(device, "key")));
    }
}

void describe_open(Facts& facts, const Json& j) {
    if (flag_of(j, "ok")) {
        const std::int64_t device_id = integer_of(j, "deviceId").value_or(0);
        facts.items.push_back(fmt::format("device {} opened, {}", device_id, text_of(j, "dll")));
        // 0 is "no device" to the core: the driver did not write the id, or
        // wrote 0.
        if (device_id == 0) {
            facts.details.push_back(
                "warning: the PassThru library reported device id 0, which the core takes as no device; "
                "the next steps will say \"not open\"");
        }
    } else if (text_of(j, "stage") == "PassThruOpen") {
        facts.items.push_back("PassThruOpen failed: " + status_text(j, "rc", "rcName"));
        facts.details.push_back("error: " + text_of(j, "error"));
        facts.details.push_back("hint: " + text_of(j, "hint"));
    }
}

void describe_connect(Facts& facts, const Json& j) {
    if (flag_of(j, "ok") && j.contains("channelId")) {
        facts.items.push_back(fmt::format("channel {} at {} baud", integer_of(j, "channelId").value_or(0),
                                          integer_of(j, "baud").value_or(0)));
        const std::int64_t set_config = integer_of(j, "setConfigRc").value_or(0);
        if (set_config != 0) facts.items.push_back(fmt::format("SET_CONFIG rc {}", set_config));
        add_battery(facts, j);
        if (const std::string warning = text_of(j, "readVBattWarning"); !warning.empty()) {
            facts.details.push_back("warning: " + warning);
        }
    } else if (text_of(j, "stage") == "PassThruConnect ISO9141") {
        facts.items.push_back("PassThruConnect failed: " + status_text(j, "rc", "rcName"));
    }
}

void describe_init(Facts& facts, const Json& j) {
    if (text_of(j, "stage") != "FIVE_BAUD_INIT") return;
    const std::int64_t address = integer_of(j, "address").value_or(0);
    if (flag_of(j, "initOk")) {
        const Json key_bytes = j.contains("bytes") ? j.at("bytes") : Json();
        facts.items.push_back(fmt::format("ECU at 0x{:02X} confirmed, key bytes {}", address, hex_bytes(key_bytes)));
        // ISO 9141-2 key bytes carry odd parity, so never 00: none, or only
        // zeros, means the driver wrote no key bytes back.
        const bool any_key_byte = key_bytes.is_array() && std::any_of(key_bytes.begin(), key_bytes.end(),
                                                                      [](const Json& b) { return b != 0; });
        if (!any_key_byte) {
            facts.details.push_back(
                "warning: the PassThru library confirmed the initialisation without key bytes");
        }
    } else {
        facts.items.push_back(fmt::format("ECU at 0x{:02X} not confirmed{}: {}", address,
                                          flag_of(j, "warning") ? " (warning)" : "", status_text(j, "rc", "rcName")));
        facts.details.push_back(text_of(j, "message"));
    }
}

void describe_kline_probe(Facts& facts, const Json& j) {
    if (text_of(j, "stage") != "KLineActivityProbe") return;
    facts.items.emplace_back(flag_of(j, "physicalTxConfirmed") ? "K-line TX confirmed" : "no K-line TX confirmed");
    const auto probes = j.find("probes");
    if (probes != j.end() && probes->is_array()) {
        for (const Json& probe : *probes) {
            if (probe.is_object()) facts.items.push_back(text_of(probe, "name") + " " + tx_fact(probe));
        }
    }
    add_replies(facts, reply_hexes(j, "rx"), integer_of(j, "rxCount"));
}

void describe_traffic(Facts& facts, const Json& j) {
    if (text_of(j, "stage") != "ProtocolTrafficProbe") return;
    facts.items.push_back(text_of(j, "probe"));
    if (!text_of(j, "txHex").empty()) facts.items.push_back(tx_fact(j));
    add_replies(facts, reply_hexes(j, "rx"), integer_of(j, "rxCount"));
}

void describe_battery(Facts& facts, const Json& j) {
    if (flag_of(j, "available")) {
        facts.items.push_back(fmt::format("{} ({} mV){}", text_of(j, "display"),
                                          integer_of(j, "vbattMilliV").value_or(0),
                                          flag_of(j, "simulation") ? ", simulated" : ""));
    } else if (flag_of(j, "ok")) {
        facts.items.push_back("unavailable: " + status_text(j, "readVBattRc", "readVBattRcName"));
    }
}

// The values of a simulated live-data read (a real one is a probe).
void describe_live_values(Facts& facts, const Json& j) {
    const auto values = j.find("values");
    if (values == j.end() || !values->is_array() || values->empty()) return;
    for (const Json& value : *values) {
        if (!value.is_object()) continue;
        facts.items.push_back(text_of(value, "name") + " " + text_of(value, "value") + " " + text_of(value, "unit"));
    }
    if (simulated(j)) facts.items.emplace_back("simulated");
}

}  // namespace

std::string fault_memory_fact(const std::vector<std::string>& reply_hexes) {
    if (reply_hexes.empty()) return "no reply: fault memory unknown";
    const auto codes = stored_trouble_codes(reply_hexes);
    if (!codes) return "no mode 03 reply: fault memory unknown";
    if (codes->empty()) return "no stored trouble codes";
    return fmt::format("{} stored trouble code{}: {}", codes->size(), codes->size() == 1 ? "" : "s",
                       fmt::join(*codes, " "));
}

std::string supported_pids_fact(const std::vector<std::string>& reply_hexes) {
    if (reply_hexes.empty()) return "no reply: live data unknown";
    const auto pids = supported_pids(reply_hexes);
    if (!pids) return "no mode 01 reply: live data unknown";
    std::vector<std::string> names;
    for (const unsigned pid : *pids) names.push_back(fmt::format("{:02X}", pid));
    if (names.empty()) return "supported PIDs: none";
    return fmt::format("supported PIDs: {}", fmt::join(names, " "));
}

Facts result_facts(const Json& result, const Step& step) {
    Facts facts;
    const std::string stage = text_of(result, "stage");
    if (stage == "backend-forward-physical-tx") {
        describe_probe(facts, result, step.kind);
        return facts;
    }
    if (stage == "verified-command" || stage == "kwp71-actuator-command" || stage == "clear-fault-memory") {
        describe_command(facts, result, step.kind);
        return facts;
    }
    switch (step.kind) {
        case StepKind::Devices: describe_devices(facts, result); break;
        case StepKind::Open: describe_open(facts, result); break;
        case StepKind::Connect: describe_connect(facts, result); break;
        case StepKind::Init: describe_init(facts, result); break;
        case StepKind::KLineProbe: describe_kline_probe(facts, result); break;
        case StepKind::TrafficProbe: describe_traffic(facts, result); break;
        case StepKind::Battery: describe_battery(facts, result); break;
        case StepKind::LiveData: describe_live_values(facts, result); break;
        case StepKind::Close:
            if (flag_of(result, "ok")) {
                facts.items.emplace_back("channel, device and library released; simulation is on");
            }
            break;
        case StepKind::Faults:
        case StepKind::SafeFunction:
        case StepKind::Actuator:
        case StepKind::ClearFaults:
        case StepKind::Simulation:
        case StepKind::Version:
        case StepKind::Log:
            break;
    }
    return facts;
}

}  // namespace vxdiag
