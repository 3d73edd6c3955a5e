#include "step_catalogue.h"

#include "user_files.h"

#include <nlohmann/json.hpp>

#include <cctype>
#include <array>
#include <charconv>
#include <limits>
#include <optional>

namespace vxdiag {

namespace {

using A = ArgumentKind;
using K = StepKind;

constexpr std::array<StepInfo, 16> kSteps{{
    {K::Devices, "devices", "VX_ListJ2534Devices", A::None, "list the registered PassThru libraries"},
    {K::Open, "open", "VX_OpenJ2534Dll", A::Path,
     "load a PassThru library and open its device (default: --dll, else the bundled simulated VCI)"},
    {K::Connect, "connect", "VX_TestIso9141Connect", A::Baud,
     "connect the ISO 9141 K-line channel at BAUD (default 10400; 0 lets the core pick 9600)"},
    {K::Init, "init", "VX_TryFiveBaudInit", A::Address,
     "five-baud initialisation of the ECU at ADDRESS, 0-255 or 0x00-0xFF (default 0x33)"},
    {K::KLineProbe, "kline-probe", "VX_KLineActivityProbe", A::None,
     "check that the interface drives the K-line"},
    {K::TrafficProbe, "traffic", "VX_ProtocolTrafficProbe", A::Text,
     "protocol traffic probe: KWP71 sends an ACK keepalive, any other text only listens (default KWP71)"},
    {K::Battery, "battery", "VX_ReadBatteryVoltage", A::None, "read the battery voltage"},
    {K::Faults, "faults", "VX_ReadFaults", A::None, "read the fault memory"},
    {K::LiveData, "live-data", "VX_ReadLiveData", A::None, "read live data"},
    {K::SafeFunction, "safe-function", "VX_RunSafeFunction", A::Request,
     "run a function mapped to start/stop frames (members type, name, mode, startHex, stopHex, "
     "backendForwardFallbackProbe, maxRunMs, timeoutMs)"},
    {K::Actuator, "actuator", "VX_RunActuatorKwp71", A::Request,
     "send one KWP71 actuator block (members name, mode, commandType, payloadHex, trailer, sequence, "
     "maxRunMs, timeoutMs)"},
    {K::ClearFaults, "clear-faults", "VX_ClearFaultMemory", A::Request,
     "clear the fault memory with a mapped command (members name, mode, clearHex or startHex, stopHex, "
     "commandType, payloadHex, trailer, sequence, timeoutMs)"},
    {K::Close, "close", "VX_CloseJ2534", A::None, "release the channel, the device and the library"},
    {K::Simulation, "simulation", "VX_SetSimulation", A::OnOff, "turn the core's simulation switch on or off"},
    {K::Version, "version", "VX_CoreVersion", A::None, "print the core's identification text"},
    {K::Log, "log", "VX_GetLastLog", A::None, "print the core's raw log"},
}};

const char* argument_synopsis(ArgumentKind kind) {
    switch (kind) {
        case A::None: return "";
        case A::Path: return "[:PATH]";
        case A::Baud: return "[:BAUD]";
        case A::Address: return "[:ADDRESS]";
        case A::Text: return "[:PROTOCOL]";
        case A::Request: return "[:REQUEST]";
        case A::OnOff: return ":on|off";
    }
    return "";
}

// Decimal, or hexadecimal after 0x; the whole text must be the number.
std::optional<std::uint64_t> parse_number(std::string_view text) {
    int base = 10;
    if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
        base = 16;
        text.remove_prefix(2);
    }
    if (text.empty()) return std::nullopt;
    std::uint64_t value = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value, base);
    if (error != std::errc() || end != text.data() + text.size()) return std::nullopt;
    return value;
}

std::string in_quotes(std::string_view text) { return "'" + std::string(text) + "'"; }

[[noreturn]] void bad_argument(std::string_view written, const std::string& why) {
    throw UsageError("step " + in_quotes(written) + ": " + why);
}

// The request as written, or read from the file after '@'. The core reads
// requests leniently: a typo (or quotes eaten by the shell) would silently
// become an empty request, so it is checked here.
std::string request_text(std::string_view written, const StepInfo& info, std::string_view argument) {
    const bool from_file = argument.starts_with('@');
    const std::string file(from_file ? argument.substr(1) : std::string_view{});
    std::string text = from_file ? read_user_file(file, "step " + in_quotes(written) + ": the request file")
                                 : std::string(argument);
    const nlohmann::json request = nlohmann::json::parse(text, nullptr, false);
    if (request.is_object()) return text;
    if (from_file) bad_argument(written, "the request file " + in_quotes(file) + " holds no JSON object");
    bad_argument(written, "the request " + in_quotes(text) + " is not a JSON object (quote it for the shell, e.g. " +
                              info.name + ":'{\"mode\":\"verified\"}', or write it to a file and give @FILE)");
}

const StepInfo& named_step(std::string_view name, std::string_view written) {
    for (const StepInfo& candidate : kSteps) {
        if (name == candidate.name) return candidate;
    }
    std::string known;
    for (const StepInfo& candidate : kSteps) {
        known += known.empty() ? "" : ", ";
        known += candidate.name;
    }
    throw UsageError("unknown step " + in_quotes(name) + " in " + in_quotes(written) + " (steps: " + known + ")");
}

std::uint32_t baud_rate(std::string_view written, std::string_view argument) {
    const auto value = parse_number(argument);
    if (!value || *value > std::numeric_limits<std::uint32_t>::max()) {
        bad_argument(written, "the baud rate " + in_quotes(argument) + " is not a number from 0 to 4294967295");
    }
    return static_cast<std::uint32_t>(*value);
}

// The five-baud init transmits one address byte (ISO 9141-2 5.2.4.1).
std::uint32_t ecu_address(std::string_view written, std::string_view argument) {
    const auto value = parse_number(argument);
    if (!value || *value > 0xFF) {
        bad_argument(written, "the ECU address " + in_quotes(argument) + " is not a byte (0-255 or 0x00-0xFF)");
    }
    return static_cast<std::uint32_t>(*value);
}

std::uint32_t on_or_off(std::string_view written, std::string_view argument) {
    if (argument == "on" || argument == "1" || argument == "true") return 1;
    if (argument == "off" || argument == "0" || argument == "false") return 0;
    bad_argument(written, "expected simulation:on or simulation:off");
}

}  // namespace

std::span<const StepInfo> step_catalogue() { return kSteps; }

const StepInfo& step_info(StepKind kind) {
    for (const StepInfo& info : kSteps) {
        if (info.kind == kind) return info;
    }
    return kSteps.front();  // every kind is in the table
}

Step parse_step(std::string_view written) {
    const std::size_t colon = written.find(':');
    const std::string_view name = written.substr(0, colon);
    const bool has_argument = colon != std::string_view::npos;
    const std::string_view argument = has_argument ? written.substr(colon + 1) : std::string_view{};
    const StepInfo& info = named_step(name, written);

    Step step;
    step.kind = info.kind;
    step.as_written = std::string(written);
    switch (info.argument) {
        case A::None:
            if (has_argument) bad_argument(written, std::string("the step ") + info.name + " takes no argument");
            break;
        case A::Path:
            step.text = std::string(argument);
            if (has_argument && step.text.empty()) bad_argument(written, "the library path is empty");
            break;
        case A::Baud:
            step.number = has_argument ? baud_rate(written, argument) : kDefaultBaud;
            break;
        case A::Address:
            step.number = has_argument ? ecu_address(written, argument) : kDefaultEcuAddress;
            break;
        case A::Text:
            step.text = has_argument ? std::string(argument) : std::string(kDefaultTrafficProtocol);
            break;
        case A::Request:
            step.text = request_text(written, info, has_argument ? argument : std::string_view("{}"));
            break;
        case A::OnOff:
            step.number = on_or_off(written, argument);
            break;
    }
    return step;
}

std::string steps_help() {
    std::string text = "Steps (NAME or NAME:ARGUMENT; each calls one export of the core):\n";
    for (const StepInfo& info : kSteps) {
        std::string head = std::string("  ") + info.name + argument_synopsis(info.argument);
        head.resize(std::max<std::size_t>(head.size() + 1, 30), ' ');
        text += head + info.export_name + ": " + info.help + "\n";
    }
    text +=
        "REQUEST is the JSON object text the export reads, or @FILE for the text in FILE, e.g.\n"
        "  safe-function:'{\"name\":\"Idle valve\",\"mode\":\"verified\",\"startHex\":\"04 01 04 01 03\","
        "\"stopHex\":\"04 02 04 00 03\",\"maxRunMs\":500}'\n"
        "  actuator:'{\"name\":\"Fan\",\"mode\":\"kwp71-command-data\",\"commandType\":\"04\",\"payloadHex\":\"01\"}'\n"
        "  clear-faults:'{\"name\":\"Clear\",\"mode\":\"kwp71\",\"commandType\":\"05\",\"payloadHex\":\"00\"}'\n"
        "  safe-function:@idle-valve.json  (the request read from that file)\n"
        "Without a REQUEST the export gets {} (no mapped command: it probes or refuses).\n";
    return text;
}

}  // namespace vxdiag
