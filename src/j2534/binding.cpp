#include "j2534/binding.h"

#include "core/raw_log.h"
#include "core/result_writer.h"
#include "core/simulation_switch.h"
#include "j2534/device_state.h"
#include "j2534/status_text.h"
#include "platform/dynamic_library.h"

namespace vx::j2534 {

namespace {

template <typename Fn>
Fn bind_entry(const platform::Library& library, const char* name) {
    return reinterpret_cast<Fn>(library.symbol(name));
}

// Looks up the entry points the core uses, storing each whether found or not:
// the eight of the binding in the order of SAE J2534-1 04.04's API list, then
// PassThruStartMsgFilter, which only the channel connect calls.
void bind_entry_points(const platform::Library& library, EntryPoints& entry) {
    entry.open = bind_entry<PTOPEN>(library, "PassThruOpen");
    entry.close = bind_entry<PTCLOSE>(library, "PassThruClose");
    entry.connect = bind_entry<PTCONNECT>(library, "PassThruConnect");
    entry.disconnect = bind_entry<PTDISCONNECT>(library, "PassThruDisconnect");
    entry.read_msgs = bind_entry<PTREADMSGS>(library, "PassThruReadMsgs");
    entry.write_msgs = bind_entry<PTWRITEMSGS>(library, "PassThruWriteMsgs");
    entry.ioctl = bind_entry<PTIOCTL>(library, "PassThruIoctl");
    entry.get_last_error = bind_entry<PTGETLASTERROR>(library, "PassThruGetLastError");
    entry.start_msg_filter = bind_entry<PTSTARTMSGFILTER>(library, "PassThruStartMsgFilter");
}

// PassThruGetLastError and PassThruStartMsgFilter are optional here (a library
// without them still opens); the other seven are required.
bool required_entry_points_bound(const EntryPoints& entry) {
    return entry.open != nullptr && entry.close != nullptr && entry.connect != nullptr &&
           entry.disconnect != nullptr && entry.read_msgs != nullptr && entry.write_msgs != nullptr &&
           entry.ioctl != nullptr;
}

// Loads and binds; returns 0 or a binding code. The library stays loaded
// with what was found even when a required entry point is missing.
Status bind_library(const char* path) {
    if (path == nullptr || path[0] == '\0') return kCodeNoLibraryPath;
    DeviceState& state = device_state();
    state.library = platform::Library(path);
    if (!state.library.loaded()) return kCodeLoadFailed;
    state.library_path = path;
    bind_entry_points(state.library, state.entry);
    if (!required_entry_points_bound(state.entry)) return kCodeEntryPointMissing;
    return kStatusNoError;
}

std::string load_failure_result(Status code) {
    ResultWriter w;
    w.raw("{\"ok\":false,\"stage\":\"LoadLibrary/GetProcAddress\",\"rc\":")
        .signed_number(code)
        .raw(",\"error\":\"Failed to load J2534 DLL or required exported functions.\"}");
    return w.take();
}

// Frees the library when the failed open is done, however it ends.
struct UnloadOnExit {
    ~UnloadOnExit() { device_state().unload(); }
};

std::string device_opened(DeviceState& state, unsigned long device_id) {
    state.device_opened(device_id);
    set_simulation(false);

    log_line(" PassThruOpen OK dll=" + state.library_path + " deviceId=" + std::to_string(device_id));

    ResultWriter w;
    w.raw("{\"ok\":true,\"stage\":\"PassThruOpen\",\"deviceId\":").unsigned_number(device_id);
    w.raw(",\"dll\":\"").text(state.library_path).raw("\"}");
    return w.take();
}

// The answer of a refused PassThruOpen, built while the library is still
// bound: it may ask PassThruGetLastError. The caller unloads it afterwards.
std::string device_refused(const DeviceState& state, Status rc) {
    const std::string detail = status_detail_text(state.entry, rc);
    log_line(" PassThruOpen failed dll=" + state.library_path + " rc=" + std::to_string(rc) + " " + detail);

    ResultWriter w;
    w.raw("{\"ok\":false,\"stage\":\"PassThruOpen\",\"rc\":").signed_number(rc);
    w.raw(",\"rcName\":\"").text(status_name(rc));
    w.raw("\",\"error\":\"").text(detail);
    w.raw("\",\"hint\":\"If rc=8 / ERR_DEVICE_NOT_CONNECTED, connect and power the VCI, close other "
          "diagnostic software, then restart this app or press Check VCI again.\"}");
    return w.take();
}

}  // namespace

std::string open_device_library(const char* path) {
    device_state().unload();
    const Status code = bind_library(path);
    if (code != kStatusNoError) return load_failure_result(code);

    DeviceState& state = device_state();
    unsigned long device_id = 0;
    // A null name asks for the default device (J2534-1 04.04, PassThruOpen).
    const Status rc = to_status(state.entry.open(nullptr, &device_id));
    if (rc == 0) return device_opened(state, device_id);
    UnloadOnExit unload_after;
    return device_refused(state, rc);
}

std::string close_device_library() {
    device_state().unload();
    device_state().reset_block_counter();
    set_simulation(true);
    log_line(" PassThru closed");
    return "{\"ok\":true}";
}

}  // namespace vx::j2534
