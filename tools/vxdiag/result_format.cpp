#include "result_format.h"

#include <fmt/color.h>
#include <fmt/format.h>
#include <nlohmann/json.hpp>

#include <cstdint>
#include <optional>

namespace vxdiag {

namespace {

using json = nlohmann::json;

std::string paint(const Style& style, fmt::text_style colour, const std::string& text) {
    if (!style.colour) return text;
    return fmt::format(colour, "{}", text);
}

json parse(const std::string& text) { return json::parse(text, nullptr, false); }

std::string text_of(const json& j, const char* key) {
    const auto it = j.find(key);
    return it != j.end() && it->is_string() ? it->get<std::string>() : std::string();
}

std::optional<std::int64_t> integer_of(const json& j, const char* key) {
    const auto it = j.find(key);
    if (it == j.end() || !it->is_number_integer()) return std::nullopt;
    return it->get<std::int64_t>();
}

bool flag_of(const json& j, const char* key) {
    const auto it = j.find(key);
    return it != j.end() && it->is_boolean() && it->get<bool>();
}

bool has(const json& j, const char* key) { return j.contains(key); }

// "STATUS_NOERROR", or "ERR_TIMEOUT (rc 9)" for any other status.
std::string status_text(const json& j, const char* rc_key, const char* name_key) {
    const auto rc = integer_of(j, rc_key);
    std::string name = text_of(j, name_key);
    if (!rc) return name;
    if (name.empty()) return fmt::format("rc {}", *rc);
    if (*rc == 0) return name;
    return fmt::format("{} (rc {})", name, *rc);
}

std::string volts(std::int64_t millivolts) { return fmt::format("{:.1f} V", static_cast<double>(millivolts) / 1000.0); }

// The hex texts of the messages of an rx list.
std::vector<std::string> reply_hexes(const json& j, const char* key) {
    std::vector<std::string> hexes;
    const auto it = j.find(key);
    if (it == j.end() || !it->is_array()) return hexes;
    for (const json& entry : *it) {
        if (entry.is_object()) hexes.push_back(text_of(entry, "hex"));
    }
    return hexes;
}

// "TX 03 01 09 03 STATUS_NOERROR written 1"
std::string tx_fact(const json& j, const char* hex_key, const char* rc_key, const char* name_key,
                    const char* written_key) {
    std::string fact = "TX " + text_of(j, hex_key);
    const std::string status = status_text(j, rc_key, name_key);
    if (!status.empty()) fact += " " + status;
    if (const auto written = integer_of(j, written_key)) fact += fmt::format(" written {}", *written);
    return fact;
}

void add_replies(std::vector<std::string>& facts, const std::vector<std::string>& hexes,
                 std::optional<std::int64_t> total) {
    for (const std::string& hex : hexes) facts.push_back("RX " + hex);
    const std::int64_t shown = static_cast<std::int64_t>(hexes.size());
    if (total && *total != shown) {
        facts.push_back(fmt::format("{} replies in all", *total));
    } else if (hexes.empty()) {
        facts.emplace_back("no reply");
    }
}

void add_battery(std::vector<std::string>& facts, const json& j) {
    if (!has(j, "readVBattRc")) return;
    if (integer_of(j, "readVBattRc").value_or(-1) == 0) {
        facts.push_back("battery " + volts(integer_of(j, "vbattMilliV").value_or(0)));
    } else {
        facts.push_back("battery unread: " + status_text(j, "readVBattRc", "readVBattRcName"));
    }
}

std::string hex_bytes(const json& bytes) {
    std::string text;
    if (!bytes.is_array()) return text;
    for (const json& byte : bytes) {
        if (!byte.is_number_integer()) continue;
        if (!text.empty()) text += ' ';
        text += fmt::format("{:02X}", byte.get<std::int64_t>());
    }
    return text;
}

// The read-only probe of the fault and live-data reads, and the probe a
// command runs instead when it may not transmit.
void describe_probe(std::vector<std::string>& facts, const json& j) {
    if (const std::string reason = text_of(j, "fallbackReason"); !reason.empty()) {
        facts.push_back("probe instead of command: " + reason);
    }
    facts.push_back(tx_fact(j, "txHex", "writeRc", "writeRcName", "txMessagesWritten"));
    add_replies(facts, reply_hexes(j, "rx"), integer_of(j, "rxCount"));
    add_battery(facts, j);
}

void describe_command(std::vector<std::string>& facts, const json& j, StepKind kind) {
    facts.emplace_back(flag_of(j, "commandSent") ? "sent" : "not sent");
    if (kind == StepKind::Actuator && has(j, "sequence")) {
        facts.push_back(fmt::format("block counter {} -> {}", integer_of(j, "sequence").value_or(0),
                                    integer_of(j, "nextSequence").value_or(0)));
    }
    facts.push_back(tx_fact(j, "txHex", "writeRc", "writeRcName", "txMessagesWritten"));
    std::vector<std::string> replies = reply_hexes(j, "rx");
    if (has(j, "stopHex")) {
        facts.push_back("stop " + tx_fact(j, "stopHex", "stopRc", "stopRcName", "stopMessagesWritten"));
        for (std::string& hex : reply_hexes(j, "stopRx")) replies.push_back(std::move(hex));
    } else if (integer_of(j, "stopMessagesWritten").value_or(0) != 0 || integer_of(j, "stopRc").value_or(0) != 0) {
        facts.push_back(fmt::format("stop frame rc {} written {}", integer_of(j, "stopRc").value_or(0),
                                    integer_of(j, "stopMessagesWritten").value_or(0)));
    }
    add_replies(facts, replies, integer_of(j, "rxCount"));
    add_battery(facts, j);
}

void describe_json(std::vector<std::string>& facts, std::vector<std::string>& details, const json& j,
                   const Step& step) {
    const std::string stage = text_of(j, "stage");
    const bool ok = flag_of(j, "ok");
    if (stage == "backend-forward-physical-tx") {
        describe_probe(facts, j);
        if (const auto it = j.find("faults"); it != j.end() && it->is_array()) {
            facts.push_back(fmt::format("{} fault rows", it->size()));
        }
        return;
    }
    if (stage == "verified-command" || stage == "kwp71-actuator-command" || stage == "clear-fault-memory") {
        describe_command(facts, j, step.kind);
        return;
    }
    switch (step.kind) {
        case StepKind::Devices: {
            const auto it = j.find("devices");
            if (it == j.end() || !it->is_array()) break;
            facts.push_back(it->empty() ? std::string("no registered PassThru libraries")
                                        : fmt::format("{} registered PassThru libraries", it->size()));
            for (const json& device : *it) {
                if (!device.is_object()) continue;
                details.push_back(fmt::format("{}  {}  [{}, key {}]", text_of(device, "name"), text_of(device, "dll"),
                                              text_of(device, "source"), text_of(device, "key")));
            }
            break;
        }
        case StepKind::Open:
            if (ok) {
                facts.push_back(fmt::format("device {} opened, {}", integer_of(j, "deviceId").value_or(0),
                                            text_of(j, "dll")));
            } else if (stage == "PassThruOpen") {
                facts.push_back("PassThruOpen failed: " + status_text(j, "rc", "rcName"));
                details.push_back("error: " + text_of(j, "error"));
                details.push_back("hint: " + text_of(j, "hint"));
            }
            break;
        case StepKind::Close:
            if (ok) facts.emplace_back("channel, device and library released; simulation is on");
            break;
        case StepKind::Connect:
            if (ok && has(j, "channelId")) {
                facts.push_back(fmt::format("channel {} at {} baud", integer_of(j, "channelId").value_or(0),
                                            integer_of(j, "baud").value_or(0)));
                const std::int64_t set_config = integer_of(j, "setConfigRc").value_or(0);
                if (set_config != 0) facts.push_back(fmt::format("SET_CONFIG rc {}", set_config));
                add_battery(facts, j);
                if (const std::string warning = text_of(j, "readVBattWarning"); !warning.empty()) {
                    details.push_back("warning: " + warning);
                }
            } else if (stage == "PassThruConnect ISO9141") {
                facts.push_back("PassThruConnect failed: " + status_text(j, "rc", "rcName"));
            }
            break;
        case StepKind::Init: {
            if (stage != "FIVE_BAUD_INIT") break;
            const std::int64_t address = integer_of(j, "address").value_or(0);
            if (flag_of(j, "initOk")) {
                const json key_bytes = j.contains("bytes") ? j.at("bytes") : json();
                facts.push_back(fmt::format("ECU at 0x{:02X} confirmed, key bytes {}", address, hex_bytes(key_bytes)));
            } else {
                facts.push_back(fmt::format("ECU at 0x{:02X} not confirmed{}: {}", address,
                                            flag_of(j, "warning") ? " (warning)" : "", status_text(j, "rc", "rcName")));
                details.push_back(text_of(j, "message"));
            }
            break;
        }
        case StepKind::KLineProbe: {
            if (stage != "KLineActivityProbe") break;
            facts.emplace_back(flag_of(j, "physicalTxConfirmed") ? "K-line TX confirmed" : "no K-line TX confirmed");
            const auto probes = j.find("probes");
            if (probes != j.end() && probes->is_array()) {
                for (const json& probe : *probes) {
                    if (!probe.is_object()) continue;
                    facts.push_back(text_of(probe, "name") + " " +
                                    tx_fact(probe, "txHex", "writeRc", "writeRcName", "txMessagesWritten"));
                }
            }
            add_replies(facts, reply_hexes(j, "rx"), integer_of(j, "rxCount"));
            break;
        }
        case StepKind::TrafficProbe:
            if (stage != "ProtocolTrafficProbe") break;
            facts.push_back(text_of(j, "probe"));
            if (!text_of(j, "txHex").empty()) {
                facts.push_back(tx_fact(j, "txHex", "writeRc", "writeRcName", "txMessagesWritten"));
            }
            add_replies(facts, reply_hexes(j, "rx"), integer_of(j, "rxCount"));
            break;
        case StepKind::Battery:
            if (flag_of(j, "available")) {
                facts.push_back(fmt::format("{} ({} mV){}", text_of(j, "display"),
                                            integer_of(j, "vbattMilliV").value_or(0),
                                            flag_of(j, "simulation") ? ", simulated" : ""));
            } else if (ok) {
                facts.push_back("unavailable: " + status_text(j, "readVBattRc", "readVBattRcName"));
            }
            break;
        case StepKind::LiveData: {
            const auto values = j.find("values");
            if (values == j.end() || !values->is_array() || values->empty()) break;
            for (const json& value : *values) {
                if (!value.is_object()) continue;
                facts.push_back(text_of(value, "name") + " " + text_of(value, "value") + " " + text_of(value, "unit"));
            }
            if (flag_of(j, "simulation") || text_of(j, "mode") == "simulation") facts.emplace_back("simulated");
            break;
        }
        case StepKind::Faults:
        case StepKind::SafeFunction:
        case StepKind::Actuator:
        case StepKind::ClearFaults:
        case StepKind::Simulation:
        case StepKind::Version:
        case StepKind::Log:
            break;
    }
}

std::string join(const std::vector<std::string>& parts, const char* separator) {
    std::string text;
    for (const std::string& part : parts) {
        if (part.empty()) continue;
        if (!text.empty()) text += separator;
        text += part;
    }
    return text;
}

std::string call_text(const Step& step) {
    const StepInfo& info = step_info(step.kind);
    std::string argument;
    switch (step.kind) {
        case StepKind::Open: {
            const std::size_t slash = step.text.find_last_of("/\\");
            argument = slash == std::string::npos ? step.text : step.text.substr(slash + 1);
            break;
        }
        case StepKind::Connect: argument = fmt::format("{}", step.number); break;
        case StepKind::Init: argument = fmt::format("0x{:02X}", step.number); break;
        case StepKind::TrafficProbe: argument = "\"" + step.text + "\""; break;
        case StepKind::SafeFunction:
        case StepKind::Actuator:
        case StepKind::ClearFaults: {
            const json request = parse(step.text);
            argument = request.is_object() ? text_of(request, "name") : std::string();
            if (argument.empty()) argument = "{...}";
            break;
        }
        case StepKind::Simulation: argument = step.number != 0 ? "1" : "0"; break;
        case StepKind::Devices:
        case StepKind::Close:
        case StepKind::KLineProbe:
        case StepKind::Battery:
        case StepKind::Faults:
        case StepKind::LiveData:
        case StepKind::Version:
        case StepKind::Log:
            break;
    }
    return std::string(info.export_name) + "(" + argument + ")";
}

}  // namespace

std::string bold(const Style& style, const std::string& text) { return paint(style, fmt::emphasis::bold, text); }
std::string good(const Style& style, const std::string& text) {
    return paint(style, fmt::fg(fmt::terminal_color::green) | fmt::emphasis::bold, text);
}
std::string bad(const Style& style, const std::string& text) {
    return paint(style, fmt::fg(fmt::terminal_color::red) | fmt::emphasis::bold, text);
}
std::string warn(const Style& style, const std::string& text) {
    return paint(style, fmt::fg(fmt::terminal_color::yellow), text);
}
std::string dim(const Style& style, const std::string& text) { return paint(style, fmt::emphasis::faint, text); }

bool step_ok(const Outcome& outcome) {
    switch (outcome.step.kind) {
        case StepKind::Simulation:
        case StepKind::Log:
            return true;
        case StepKind::Version:
            return !outcome.text.empty();
        default: {
            if (outcome.truncated) return false;
            const json result = parse(outcome.text);
            return result.is_object() && flag_of(result, "ok");
        }
    }
}

Report describe(const Outcome& outcome, const Style& style) {
    Report report;
    report.ok = step_ok(outcome);
    std::vector<std::string> facts;

    switch (outcome.step.kind) {
        case StepKind::Simulation:
            facts.push_back(outcome.step.number != 0 ? "simulation on" : "simulation off");
            break;
        case StepKind::Version:
            facts.push_back(outcome.text);
            break;
        case StepKind::Log: {
            std::size_t lines = 0;
            std::size_t start = 0;
            while (start < outcome.text.size()) {
                std::size_t end = outcome.text.find('\n', start);
                if (end == std::string::npos) end = outcome.text.size();
                std::string line = outcome.text.substr(start, end - start);
                if (!line.empty() && line.back() == '\r') line.pop_back();
                report.details.push_back("  " + line);
                ++lines;
                start = end + 1;
            }
            facts.push_back(fmt::format("raw log, {} lines", lines));
            break;
        }
        default: {
            const json result = parse(outcome.text);
            if (!result.is_object()) {
                facts.push_back(outcome.truncated ? "the result was longer than the buffer and is cut off"
                                                  : "the result is not a JSON object: " + outcome.text);
                break;
            }
            try {
                describe_json(facts, report.details, result, outcome.step);
            } catch (const json::exception&) {
                facts.clear();  // an unexpected member type: fall back to the message below
            }
            const std::string stage = text_of(result, "stage");
            std::string reason = text_of(result, "error");
            if (reason.empty()) reason = text_of(result, "message");
            if (reason.empty()) reason = text_of(result, "note");
            if (reason.empty() && flag_of(result, "simulation")) reason = "simulated, nothing sent";
            const auto said = [&reason](const std::vector<std::string>& texts) {
                for (const std::string& text : texts) {
                    if (text.find(reason) != std::string::npos) return true;
                }
                return false;
            };
            if ((facts.empty() || !report.ok) && !reason.empty() && !said(facts) && !said(report.details)) {
                facts.push_back(stage.empty() ? reason : stage + ": " + reason);
            }
            break;
        }
    }

    const std::string status = report.ok ? good(style, "ok  ") : bad(style, "FAIL");
    std::string call = call_text(outcome.step);
    if (call.size() < 38) call.resize(38, ' ');
    report.line = fmt::format("{} {} {}  {}", status, bold(style, call), join(facts, ", "),
                              dim(style, fmt::format("({:.2f} s)", outcome.seconds)));
    for (std::string& detail : report.details) detail = "      " + detail;
    return report;
}

std::string json_line(const Outcome& outcome) {
    json wrapped;
    switch (outcome.step.kind) {
        case StepKind::Simulation: wrapped["simulation"] = outcome.step.number != 0; break;
        case StepKind::Version: wrapped["coreVersion"] = outcome.text; break;
        case StepKind::Log: wrapped["rawLog"] = outcome.text; break;
        default: return outcome.text;
    }
    return wrapped.dump(-1, ' ', false, json::error_handler_t::replace);
}

}  // namespace vxdiag
