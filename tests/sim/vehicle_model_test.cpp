// The simulated vehicle behind the simulated PassThru device, driven the way
// a host drives it: through the core's exports (open, connect, five-baud
// init, probes, readings, commands), reading the ECU frames that come back in
// the results. Its timing runs on the device's virtual clock, so a 2 s
// five-baud address costs the test nothing.
#include <nlohmann/json.hpp>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <functional>
#include <optional>
#include <random>
#include <string>
#include <vector>

#include "platform/environment.h"
#include "support/sim_device.h"

namespace vx::testing {
namespace {

using json = nlohmann::json;
namespace fs = std::filesystem;

constexpr int kBufferSize = 1 << 16;

// Seconds of line time for this many bytes at this baud rate: 10 bit times a
// byte (start, 8 data, stop), in microseconds.
double line_us(std::size_t bytes, double baud) { return static_cast<double>(bytes) * 10.0 / baud * 1e6; }

json answer(const std::function<int(char*, int)>& call) {
    std::vector<char> buffer(kBufferSize, '\0');
    call(buffer.data(), kBufferSize);
    json parsed = json::parse(buffer.data(), nullptr, /*allow_exceptions=*/false);
    EXPECT_FALSE(parsed.is_discarded()) << buffer.data();
    return parsed;
}

// The hex texts of an rx list.
std::vector<std::string> rx_hex(const json& rx) {
    std::vector<std::string> out;
    for (const json& entry : rx) out.push_back(entry.at("hex").get<std::string>());
    return out;
}

class SimulatedVehicle : public SimDeviceTest {
protected:
    void SetUp() override {
        SimDeviceTest::SetUp();
        sim.sim_set_vehicle(1);
        sim.sim_use_virtual_clock(1);
    }

    json connect(unsigned baud = 10400) {
        EXPECT_NE(open_device().find("\"ok\":true"), std::string::npos);
        return answer([&](char* b, int n) { return VX_TestIso9141Connect(baud, b, n); });
    }
    json init(unsigned address) {
        return answer([&](char* b, int n) { return VX_TryFiveBaudInit(address, b, n); });
    }
    json live_data() { return answer([](char* b, int n) { return VX_ReadLiveData(nullptr, b, n); }); }
    json faults() { return answer([](char* b, int n) { return VX_ReadFaults(nullptr, b, n); }); }
    json safe_function(const std::string& request) {
        return answer([&](char* b, int n) { return VX_RunSafeFunction(request.c_str(), b, n); });
    }
    json actuator(const std::string& request) {
        return answer([&](char* b, int n) { return VX_RunActuatorKwp71(request.c_str(), b, n); });
    }
    json clear_faults(const std::string& request) {
        return answer([&](char* b, int n) { return VX_ClearFaultMemory(request.c_str(), b, n); });
    }
    json traffic_probe(const char* protocol) {
        return answer([&](char* b, int n) { return VX_ProtocolTrafficProbe(protocol, b, n); });
    }
    json activity_probe() { return answer([](char* b, int n) { return VX_KLineActivityProbe(b, n); }); }

    double elapsed_us() const { return static_cast<double>(sim.sim_virtual_elapsed_us()); }

    // Direct device calls, for the line timing of single frames.
    long write(const std::vector<std::uint8_t>& frame, unsigned long tx_flags, unsigned long timeout,
               unsigned long* written = nullptr) {
        PASSTHRU_MSG msg{};
        msg.ProtocolID = j2534::kProtocolIso9141;
        msg.TxFlags = tx_flags;
        msg.DataSize = static_cast<unsigned long>(frame.size());
        std::memcpy(msg.Data, frame.data(), frame.size());
        unsigned long count = 1;
        const long status = sim.entry<PTWRITEMSGS>("PassThruWriteMsgs")(2, &msg, &count, timeout);
        if (written != nullptr) *written = count;
        return status;
    }
    long read(unsigned long timeout, std::vector<std::uint8_t>* data = nullptr) {
        PASSTHRU_MSG msg{};
        unsigned long count = 1;
        const long status = sim.entry<PTREADMSGS>("PassThruReadMsgs")(2, &msg, &count, timeout);
        if (data != nullptr) data->assign(msg.Data, msg.Data + (status == 0 ? msg.DataSize : 0));
        return status;
    }
};

TEST_F(SimulatedVehicle, TheIso9141EcuWakesAt33AndAnswersObdRequestsWithHeaderAndChecksum) {
    const json connected = connect();
    EXPECT_EQ(connected.at("vbattMilliV"), 12600) << "the battery, read on the channel";
    EXPECT_EQ(answer([](char* b, int n) { return VX_ReadBatteryVoltage(b, n); }).at("display"), "12.6V");

    // Asleep before the initialisation: the line carries the frames, nobody answers.
    const json before = activity_probe();
    EXPECT_EQ(before.at("physicalTxConfirmed"), true);
    EXPECT_EQ(before.at("rxCount"), 0);

    const json woken = init(0x33);
    EXPECT_EQ(woken.at("initOk"), true);
    EXPECT_EQ(woken.at("rc"), 0);
    EXPECT_EQ(woken.at("bytes"), json::array({8, 8}));

    // Mode 01 PID 00: 48 6B <ECU 10>, the supported-PID bitmap, the checksum.
    const json live = live_data();
    EXPECT_EQ(live.at("ecuResponseSeen"), true);
    EXPECT_EQ(live.at("attempts").size(), 1u);
    EXPECT_EQ(rx_hex(live.at("rx")), (std::vector<std::string>{"48 6B 10 41 00 BE 1F B8 10 A9"}));

    // Mode 03: the stored trouble codes, padded to three.
    EXPECT_EQ(rx_hex(faults().at("rx")), (std::vector<std::string>{"48 6B 10 43 01 33 03 00 00 00 3D"}));

    // Tester present, and a request that carries its own checksum already.
    const json present = safe_function(R"({"name":"keep awake","mode":"verified","startHex":"3E 00","maxRunMs":0})");
    EXPECT_EQ(present.at("commandSent"), true);
    EXPECT_EQ(rx_hex(present.at("rx")), (std::vector<std::string>{"48 6B 10 7E 00 41"}));
    const json with_checksum =
        safe_function(R"({"name":"pids","mode":"verified","startHex":"68 6A F1 01 00 C4","maxRunMs":0})");
    EXPECT_EQ(rx_hex(with_checksum.at("rx")), (std::vector<std::string>{"48 6B 10 41 00 BE 1F B8 10 A9"}));

    // A request the ECU does not know stays unanswered.
    const json unknown = safe_function(R"({"name":"vin","mode":"verified","startHex":"68 6A F1 09 02","maxRunMs":0})");
    EXPECT_EQ(unknown.at("commandSent"), true);
    EXPECT_EQ(unknown.at("rxCount"), 0);

    // The device saw the core's frames as they are; replies are not echoes.
    const auto frames = sim.written_frames();
    EXPECT_NE(std::find(frames.begin(), frames.end(), std::vector<std::uint8_t>{0x68, 0x6A, 0xF1, 0x01, 0x00}),
              frames.end());
}

TEST_F(SimulatedVehicle, TheKwp71EcuWakesAt10AndAnswersBlocksContinuingTheTestersCounter) {
    connect();
    const json woken = init(0x10);
    EXPECT_EQ(woken.at("initOk"), true);
    EXPECT_EQ(woken.at("bytes"), json::array({0x01, 0x8A}));

    // The keepalive ACK 03 01 09 03 is answered by an ACK with counter 02.
    const json keepalive = traffic_probe("KWP71");
    EXPECT_EQ(keepalive.at("txHex"), "03 01 09 03");
    EXPECT_EQ(rx_hex(keepalive.at("rx")), (std::vector<std::string>{"03 02 09 03"}));

    // An actuator title: ACK, counter after the tester's 01.
    const json actuate =
        actuator(R"({"name":"idle valve","mode":"kwp71-command-data","commandType":"04","payloadHex":"01","maxRunMs":0})");
    EXPECT_EQ(actuate.at("sequence"), 1);
    EXPECT_EQ(rx_hex(actuate.at("rx")), (std::vector<std::string>{"03 02 09 03"}));

    // The tester's counter 7: the ECU continues with 08.
    const json numbered = actuator(
        R"({"name":"fan","mode":"kwp71-command-data","commandType":"04","payloadHex":"02","sequence":7,"maxRunMs":0})");
    EXPECT_EQ(rx_hex(numbered.at("rx")), (std::vector<std::string>{"03 08 09 03"}));

    // Title 07 (read faults): the fault block, title FC, with the stored faults.
    const json fault_block =
        actuator(R"({"name":"faults","mode":"kwp71-command-data","commandType":"07","payloadHex":"00","maxRunMs":0})");
    EXPECT_EQ(fault_block.at("sequence"), 8);
    EXPECT_EQ(rx_hex(fault_block.at("rx")), (std::vector<std::string>{"09 09 FC 02 8F 23 00 21 21 03"}));

    // A clear (title 05): ACK. The clear does not move the core's counter.
    const json cleared = clear_faults(R"({"name":"clear","mode":"kwp71","commandType":"05","payloadHex":"00"})");
    EXPECT_EQ(cleared.at("commandSent"), true);
    EXPECT_EQ(cleared.at("txHex"), "04 09 05 00 03");
    EXPECT_EQ(rx_hex(cleared.at("rx")), (std::vector<std::string>{"03 0A 09 03"}));

    // A title the ECU does not know: NAK (0A).
    const json refused =
        actuator(R"({"name":"odd","mode":"kwp71-command-data","commandType":"33","payloadHex":"00","maxRunMs":0})");
    EXPECT_EQ(rx_hex(refused.at("rx")), (std::vector<std::string>{"03 0A 0A 03"}));

    // The counter wraps within 1 to 255 as the tester's does.
    const json wrapped = actuator(
        R"({"name":"wrap","mode":"kwp71-command-data","commandType":"09","payloadHex":"00","sequence":255,"maxRunMs":0})");
    EXPECT_EQ(rx_hex(wrapped.at("rx")), (std::vector<std::string>{"03 01 09 03"}));

    // OBD requests mean nothing to it.
    EXPECT_EQ(live_data().at("ecuResponseSeen"), false);
}

TEST_F(SimulatedVehicle, AnAddressWithoutAnEcuFailsTheInitAndLeavesTheLineSilent) {
    connect();
    ASSERT_EQ(init(0x33).at("initOk"), true);

    const json failed = init(0x41);
    EXPECT_EQ(failed.at("ok"), true) << "ERR_FAILED is a warning for the host";
    EXPECT_EQ(failed.at("initOk"), false);
    EXPECT_EQ(failed.at("warning"), true);
    EXPECT_EQ(failed.at("rc"), 7);
    EXPECT_EQ(failed.at("rcName"), "ERR_FAILED");
    EXPECT_EQ(failed.at("bytes"), json::array());

    // The ECU woken before went back to sleep with the new initialisation;
    // the core now probes (its ECU init is unconfirmed) and nobody answers.
    const json live = live_data();
    EXPECT_EQ(live.at("commandSent"), true);
    EXPECT_EQ(live.at("ecuResponseSeen"), false);

    // Reopening and connecting a new channel also puts a woken ECU to sleep.
    ASSERT_EQ(init(0x33).at("initOk"), true);
    connect();
    EXPECT_EQ(live_data().at("ecuResponseSeen"), false);
}

TEST_F(SimulatedVehicle, LineTimeFollowsTheBaudRateP2AndTheFiveBaudAddress) {
    connect(10400);
    EXPECT_EQ(elapsed_us(), 0.0) << "connecting and configuring take no line time";

    // Five-baud: 2 s address, W1 60 ms, sync byte, W2 10 ms, key byte 1,
    // W3 10 ms, key byte 2, W4 30 ms, inverted key byte 2, W4 30 ms, inverted
    // address: five bytes at 10400 baud.
    init(0x33);
    const double init_us = 2e6 + 60e3 + 10e3 + 10e3 + 30e3 + 30e3 + line_us(5, 10400);
    EXPECT_NEAR(elapsed_us(), init_us, 5);

    // Nobody at 0x41: the address, then W1 max (300 ms) without a sync byte.
    double mark = elapsed_us();
    init(0x41);
    EXPECT_NEAR(elapsed_us() - mark, 2e6 + 300e3, 1);
    init(0x33);

    // A frame of 5 bytes sent as given (no checksum) takes 5 x 10 / 10400 s;
    // with the checksum the device appends, 6 bytes.
    mark = elapsed_us();
    unsigned long written = 0;
    ASSERT_EQ(write({0x68, 0x6A, 0xF1, 0x01, 0x00}, j2534::kTxFlagNoChecksum, 1000, &written), 0);
    EXPECT_EQ(written, 1u);
    EXPECT_NEAR(elapsed_us() - mark, line_us(5, 10400), 1);
    // The reply arrives P2 (30 ms) after the request, then takes its 10 bytes.
    mark = elapsed_us();
    std::vector<std::uint8_t> reply;
    ASSERT_EQ(read(1000, &reply), 0);
    EXPECT_EQ(reply.size(), 10u);
    EXPECT_NEAR(elapsed_us() - mark, 30e3 + line_us(10, 10400), 2);

    // Nothing more comes: the read waits its whole time-out; without a
    // time-out it answers at once.
    mark = elapsed_us();
    EXPECT_EQ(read(250), 9) << "ERR_TIMEOUT";
    EXPECT_NEAR(elapsed_us() - mark, 250e3, 1);
    mark = elapsed_us();
    EXPECT_EQ(read(0), 18) << "ERR_BUFFER_EMPTY";
    EXPECT_EQ(elapsed_us(), mark);

    // A reply not yet complete when the read gives up stays for the next read.
    ASSERT_EQ(write({0x68, 0x6A, 0xF1, 0x03}, 0, 1000), 0);
    EXPECT_EQ(read(10), 9);
    EXPECT_EQ(read(100, &reply), 0);
    EXPECT_EQ(reply.front(), 0x48);

    // A frame longer than its write time-out: ERR_TIMEOUT after the time-out,
    // nothing reported written.
    mark = elapsed_us();
    EXPECT_EQ(write(std::vector<std::uint8_t>(255, 0x11), j2534::kTxFlagNoChecksum, 50, &written), 9);
    EXPECT_EQ(written, 0u);
    EXPECT_NEAR(elapsed_us() - mark, 50e3, 1);

    // Through an export: the live-data read probe writes 6 bytes, the reply
    // comes after P2 and its 10 bytes, then one more read waits its 250 ms.
    connect(9600);
    init(0x33);
    mark = elapsed_us();
    ASSERT_EQ(live_data().at("ecuResponseSeen"), true);
    EXPECT_NEAR(elapsed_us() - mark, line_us(6, 9600) + 30e3 + line_us(10, 9600) + 250e3, 3);
}

TEST_F(SimulatedVehicle, AnInstantVehicleTakesNoTimeAndStillAnswers) {
    sim.sim_set_vehicle_instant(1);
    connect();
    EXPECT_EQ(init(0x33).at("initOk"), true);
    EXPECT_EQ(init(0x41).at("rc"), 7);
    EXPECT_EQ(init(0x33).at("initOk"), true);
    const json live = live_data();
    EXPECT_EQ(rx_hex(live.at("rx")), (std::vector<std::string>{"48 6B 10 41 00 BE 1F B8 10 A9"}));
    EXPECT_EQ(elapsed_us(), 0.0);
}

constexpr const char* kWorkshopProfile = R"({
  "name": "workshop car",
  "batteryMilliVolts": 11800,
  "ecus": [
    { "protocol": "iso9141-2", "wakeAddress": "29", "keyBytes": "94 94", "sourceAddress": "11",
      "requireChecksum": true, "timing": { "p2Ms": 50 },
      "responses": [ { "request": "09 02", "response": "49 02 01 31 41 42" } ] }
  ]
})";

TEST_F(SimulatedVehicle, ANewEcuIsDataInTheProfile) {
    ASSERT_EQ(sim.sim_load_vehicle_profile(kWorkshopProfile), 1) << sim.vehicle_profile_error();
    EXPECT_EQ(sim.vehicle_profile_error(), "");
    const json connected = connect();
    EXPECT_EQ(connected.at("vbattMilliV"), 11800);

    EXPECT_EQ(init(0x33).at("rc"), 7) << "the built-in ECUs are gone";
    const json woken = init(0x29);
    EXPECT_EQ(woken.at("bytes"), json::array({0x94, 0x94}));

    const json vin = safe_function(R"({"name":"vin","mode":"verified","startHex":"68 6A F1 09 02","maxRunMs":0})");
    EXPECT_EQ(rx_hex(vin.at("rx")), (std::vector<std::string>{"48 6B 11 49 02 01 31 41 42 C4"}));

    // This ECU insists on the checksum: a frame sent without one is ignored.
    ASSERT_EQ(write({0x68, 0x6A, 0xF1, 0x09, 0x02}, j2534::kTxFlagNoChecksum, 1000), 0);
    EXPECT_EQ(read(500), 9);
    const double mark = elapsed_us();
    ASSERT_EQ(write({0x68, 0x6A, 0xF1, 0x09, 0x02}, 0, 1000), 0);
    EXPECT_EQ(read(500), 0);
    EXPECT_NEAR(elapsed_us() - mark, line_us(6, 10400) + 50e3 + line_us(10, 10400), 2) << "its own P2";

    // The shipped profile file reads as the built-in one.
    const std::string shipped = std::string(VXDIAG_SIM_VEHICLES_DIR) + "/default.json";
    ASSERT_EQ(sim.sim_load_vehicle_profile_file(shipped.c_str()), 1) << sim.vehicle_profile_error();
    connect();
    EXPECT_EQ(init(0x33).at("bytes"), json::array({8, 8}));
}

TEST_F(SimulatedVehicle, AProfileThatCannotBeReadIsRefusedWithItsReasonAndTheVehicleKept) {
    ASSERT_EQ(sim.sim_load_vehicle_profile(kWorkshopProfile), 1);
    const std::pair<const char*, const char*> broken[] = {
        {"{", "not valid JSON"},
        {R"({"ecus":[], "battery": 12})", "profile: unknown member \"battery\""},
        {R"({"name":"x"})", "the member \"ecus\" is missing"},
        {R"({"ecus":[{"protocol":"kwp2000","wakeAddress":"10","keyBytes":"01 8A"}]})",
         "ecus[0].protocol: expected \"iso9141-2\" or \"kwp71\", found \"kwp2000\""},
        {R"({"ecus":[{"protocol":"kwp71","wakeAddress":"333","keyBytes":"01 8A"}]})",
         "ecus[0].wakeAddress: a byte needs two hex digits"},
        {R"({"ecus":[{"protocol":"kwp71","wakeAddress":"10","keyBytes":""}]})",
         "ecus[0].keyBytes: expected 1 to 16 bytes, found 0"},
        {R"({"ecus":[{"protocol":"kwp71","wakeAddress":"10","keyBytes":"0G"}]})", "'G' is not a hex digit"},
        {R"({"ecus":[{"protocol":"kwp71","wakeAddress":"10","keyBytes":"01","responses":[]}]})",
         "ecus[0]: unknown member \"responses\""},
        {R"({"ecus":[{"protocol":"kwp71","wakeAddress":"10","keyBytes":"01"},
                     {"protocol":"iso9141-2","wakeAddress":"10","keyBytes":"08 08"}]})",
         "ecus[1].wakeAddress: 10 is already the wake address of ecus[0]"},
        {R"({"batteryMilliVolts":-1,"ecus":[]})", "batteryMilliVolts: expected a whole number"},
        {R"({"ecus":[{"protocol":"iso9141-2","wakeAddress":"33","keyBytes":"08 08","timing":{"p2Ms":"30"}}]})",
         "ecus[0].timing.p2Ms: expected a whole number from 0 to 60000"},
    };
    for (const auto& [text, reason] : broken) {
        SCOPED_TRACE(text);
        EXPECT_EQ(sim.sim_load_vehicle_profile(text), 0);
        EXPECT_NE(sim.vehicle_profile_error().find(reason), std::string::npos) << sim.vehicle_profile_error();
    }
    EXPECT_EQ(sim.sim_load_vehicle_profile_file("/no/such/vehicle.json"), 0);
    EXPECT_NE(sim.vehicle_profile_error().find("cannot open /no/such/vehicle.json"), std::string::npos);
    EXPECT_EQ(sim.sim_load_vehicle_profile(nullptr), 0);

    // The workshop car is still there.
    connect();
    EXPECT_EQ(init(0x29).at("initOk"), true);
}

TEST_F(SimulatedVehicle, AResetDeviceIsTheScriptedOneAgain) {
    sim.sim_reset();
    sim.sim_use_virtual_clock(1);
    connect();
    // The script's defaults: any address wakes with 08 08, and reads find
    // nothing and take no time.
    const json woken = init(0x41);
    EXPECT_EQ(woken.at("rc"), 0);
    EXPECT_EQ(woken.at("bytes"), json::array({8, 8}));
    const json live = live_data();
    EXPECT_EQ(live.at("ecuResponseSeen"), false);
    EXPECT_EQ(live.at("attempts").at(0).at("rxCount"), 0);
    EXPECT_EQ(sim.sim_virtual_elapsed_us(), 0u);
    EXPECT_EQ(read(250), 18) << "the script's empty-read status";
}

// ---- A host that never touches the back door ----

// Sets environment variables for one test and puts them back.
class ScopedEnvironment {
public:
    void set(const char* name, const char* value) {
        saved_.emplace_back(name, platform::environment_variable(name));
        platform::set_environment_variable(name, value);
    }
    ~ScopedEnvironment() {
        for (auto it = saved_.rbegin(); it != saved_.rend(); ++it) {
            platform::set_environment_variable(it->first.c_str(), it->second ? it->second->c_str() : nullptr);
        }
    }

private:
    std::vector<std::pair<std::string, std::optional<std::string>>> saved_;
};

// A fresh copy of the device library, so its state is that of a first load.
class FreshDevice {
public:
    FreshDevice() {
        std::random_device random;
        folder_ = fs::temp_directory_path() / ("vxsim-fresh-" + std::to_string(random()));
        fs::create_directories(folder_);
        const fs::path original(SimDevice::kFull);
        const fs::path copy = folder_ / original.filename();
        fs::copy_file(original, copy);
        library_ = platform::load_library(sim_native_path(copy.string()).c_str());
        if (library_ == nullptr) throw std::runtime_error("cannot load " + copy.string());
    }
    ~FreshDevice() {
        platform::free_library(library_);
        std::error_code ignored;
        fs::remove_all(folder_, ignored);
    }
    template <typename Fn>
    Fn entry(const char* name) const {
        return reinterpret_cast<Fn>(platform::find_symbol(library_, name));
    }

    long open() {
        unsigned long device = 0;
        return entry<PTOPEN>("PassThruOpen")(nullptr, &device);
    }
    long connect() {
        unsigned long channel = 0;
        return entry<PTCONNECT>("PassThruConnect")(1, j2534::kProtocolIso9141, j2534::kFlagIso9141KLineOnly,
                                                   10400, &channel);
    }
    long five_baud_init(unsigned char address, std::vector<unsigned char>& keys) {
        SBYTE_ARRAY input{1, &address};
        keys.assign(16, 0);
        SBYTE_ARRAY output{16, keys.data()};
        const long status = entry<PTIOCTL>("PassThruIoctl")(2, j2534::kIoctlFiveBaudInit, &input, &output);
        keys.resize(std::min<unsigned long>(output.NumOfBytes, 16));
        return status;
    }

private:
    fs::path folder_;
    platform::LibraryHandle library_ = nullptr;
};

TEST(SimulatedVehicleForAHost, IsOnFromTheFirstLoadWithTheSpeedAndProfileOfTheEnvironment) {
    {
        ScopedEnvironment environment;
        environment.set("VXSIM_INSTANT", "1");
        environment.set("VXSIM_PROFILE", nullptr);
        FreshDevice device;
        ASSERT_EQ(device.open(), 0);
        ASSERT_EQ(device.connect(), 0);
        std::vector<unsigned char> keys;
        EXPECT_EQ(device.five_baud_init(0x41, keys), 7) << "no ECU at 0x41";
        EXPECT_TRUE(keys.empty());
        EXPECT_EQ(device.five_baud_init(0x33, keys), 0);
        EXPECT_EQ(keys, (std::vector<unsigned char>{0x08, 0x08}));

        PASSTHRU_MSG msg{};
        msg.ProtocolID = j2534::kProtocolIso9141;
        const unsigned char request[] = {0x68, 0x6A, 0xF1, 0x03};
        std::memcpy(msg.Data, request, sizeof request);
        msg.DataSize = sizeof request;
        unsigned long count = 1;
        ASSERT_EQ(device.entry<PTWRITEMSGS>("PassThruWriteMsgs")(2, &msg, &count, 1000), 0);
        PASSTHRU_MSG reply{};
        count = 1;
        ASSERT_EQ(device.entry<PTREADMSGS>("PassThruReadMsgs")(2, &reply, &count, 1000), 0);
        EXPECT_EQ(count, 1u);
        EXPECT_EQ(std::vector<unsigned char>(reply.Data, reply.Data + reply.DataSize),
                  (std::vector<unsigned char>{0x48, 0x6B, 0x10, 0x43, 0x01, 0x33, 0x03, 0x00, 0x00, 0x00, 0x3D}));
    }
    {
        // A profile the host names but that cannot be read: the device does
        // not open, and says why.
        ScopedEnvironment environment;
        environment.set("VXSIM_INSTANT", "1");
        environment.set("VXSIM_PROFILE", "/no/such/vehicle.json");
        FreshDevice device;
        EXPECT_EQ(device.open(), 7);
        char text[512] = {};
        EXPECT_EQ(device.entry<PTGETLASTERROR>("PassThruGetLastError")(text), 0);
        EXPECT_NE(std::string(text).find("cannot open /no/such/vehicle.json"), std::string::npos) << text;
    }
}

}  // namespace
}  // namespace vx::testing
