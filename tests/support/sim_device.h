// The simulated PassThru device as tests use it.
//
// SimDevice loads one build of the simulated device by path with the platform
// loader, as the core loads a vendor library, resolves every sim_* back-door
// function and resets the device. Holding this reference keeps the device's
// state alive while the core loads and frees the same library, so a test can
// script the device before VX_OpenJ2534Dll and read its call record after
// VX_CloseJ2534.
// The builds: SimDevice::kFull, kNoLastError (no PassThruGetLastError),
// kNoIoctl (no PassThruIoctl), kNoFilter (no PassThruStartMsgFilter /
// PassThruStopMsgFilter), kLenient (frames pass without a filter, READ_VBATT
// on any id).
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "passthru_sim_control.h"
#include "platform/dynamic_library.h"
#include "support/core_fixture.h"

namespace vx::testing {

// Paths of the builds as the tests load them. Under Windows the build passes
// a drive-letter path with forward slashes; the loader gets backslashes, as a
// host passes a registered FunctionLibrary.
inline std::string sim_native_path(std::string path) {
#if defined(VXDIAG_TEST_ON_WINDOWS)
    std::replace(path.begin(), path.end(), '/', '\\');
#endif
    return path;
}

class SimDevice {
public:
    static constexpr const char* kFull = VXDIAG_SIM_PATH;
    static constexpr const char* kNoLastError = VXDIAG_SIM_NO_LASTERROR_PATH;
    static constexpr const char* kNoIoctl = VXDIAG_SIM_NO_IOCTL_PATH;
    static constexpr const char* kNoFilter = VXDIAG_SIM_NO_FILTER_PATH;
    static constexpr const char* kLenient = VXDIAG_SIM_LENIENT_PATH;

    explicit SimDevice(const std::string& path = kFull) : path_(sim_native_path(path)), library_(path_.c_str()) {
        if (!library_.loaded()) throw std::runtime_error("cannot load " + path_ + ": " + platform::last_load_error());
#define VX_SIM_RESOLVE(ret, name, params) resolve(name, #name);
        SIM_CONTROL_FUNCTIONS(VX_SIM_RESOLVE)
#undef VX_SIM_RESOLVE
        sim_reset();
    }
    ~SimDevice() {
        if (sim_reset != nullptr) sim_reset();
    }

    // The path to hand to VX_OpenJ2534Dll.
    const std::string& path() const { return path_; }

    // An entry point of this build, for calling the device directly, e.g.
    // sim.entry<PTGETLASTERROR>("PassThruGetLastError"); null when absent.
    template <typename Fn>
    Fn entry(const char* name) const {
        return reinterpret_cast<Fn>(library_.symbol(name));
    }

    // The back door, one member per sim_* function, same name and arguments.
#define VX_SIM_MEMBER(ret, name, params) ret(*name) params = nullptr;
    SIM_CONTROL_FUNCTIONS(VX_SIM_MEMBER)
#undef VX_SIM_MEMBER

    // ---- Conveniences over the back door ----

    std::vector<sim_call> calls() const {
        std::vector<sim_call> out(sim_call_count());
        for (unsigned long i = 0; i < out.size(); ++i) sim_get_call(i, &out[i]);
        return out;
    }
    std::vector<sim_call> calls_of(int function) const {
        std::vector<sim_call> out = calls();
        std::erase_if(out, [function](const sim_call& call) { return call.function != function; });
        return out;
    }
    // The frame bytes of each PassThruWriteMsgs call, in order.
    std::vector<std::vector<std::uint8_t>> written_frames() const {
        std::vector<std::vector<std::uint8_t>> out;
        for (const sim_call& call : calls_of(SIM_FN_WRITE_MSGS)) {
            out.emplace_back(call.frame, call.frame + call.frame_size);
        }
        return out;
    }

    // A reply of these bytes on the ISO 9141 protocol, released after
    // after_writes successful writes from now.
    void queue_reply(const std::vector<std::uint8_t>& bytes, unsigned int after_writes = 0,
                     unsigned long rx_status = 0, unsigned long timestamp = 0) {
        sim_reply reply{};
        reply.data = bytes.data();
        reply.size = static_cast<unsigned long>(bytes.size());
        reply.protocol_id = 3;  // ISO9141
        reply.rx_status = rx_status;
        reply.timestamp = timestamp;
        reply.after_writes = after_writes;
        sim_queue_reply(&reply);
    }
    void set_last_error(std::string_view text, long status = 0) {
        sim_set_last_error(text.data(), static_cast<unsigned long>(text.size()), status);
    }
    void set_five_baud_keys(const std::vector<std::uint8_t>& keys, unsigned long reported) {
        sim_set_five_baud_keys(keys.data(), static_cast<unsigned long>(keys.size()), reported);
    }
private:
    template <typename Fn>
    void resolve(Fn& slot, const char* name) {
        slot = reinterpret_cast<Fn>(library_.symbol(name));
        if (slot == nullptr) throw std::runtime_error(std::string("the simulated device lacks ") + name);
    }

    std::string path_;
    platform::Library library_;
};

// A core test with the full simulated device loaded and reset. The device
// outlives the fixture's TearDown, which closes the core's binding first.
class SimDeviceTest : public CoreTest {
protected:
    // Opens the simulated device through the export and returns the result.
    std::string open_device(const std::string& path = {}) {
        char buffer[1024];
        VX_OpenJ2534Dll((path.empty() ? sim.path() : path).c_str(), buffer, static_cast<int>(sizeof buffer));
        return buffer;
    }

    // A freshly loaded core and a reset device.
    void restart() {
        reset_core();
        sim.sim_reset();
    }

    SimDevice sim;
};

}  // namespace vx::testing
