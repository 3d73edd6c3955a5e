// A simulated SAE J2534-1 04.04 PassThru device.
//
// It exports the J2534 entry points with the standard signatures, as a vendor
// library does, and answers them from process-wide state that tests script
// through the sim_* back door (passthru_sim_control.h, back_door.cpp); the
// state lives in device_state.h. It keeps a record of every call with its
// arguments so tests can see what the core passed.
//
// Unless a test scripts it, the device has a vehicle on its K-line
// (vehicle_model.h): the library starts with the vehicle on, so a host that
// never touches the back door talks to ECUs that wake, answer and take their
// time on the line; sim_reset() turns it off, and the tests of the vehicle
// itself turn it back on with sim_set_vehicle(). Environment of the host:
//   VXSIM_PROFILE  a vehicle profile (JSON) to use instead of the built-in one;
//                  when it cannot be read, PassThruOpen fails with ERR_FAILED
//                  and PassThruGetLastError says why;
//   VXSIM_NO_DEVICE  1: no VCI is plugged in: PassThruOpen fails with
//                  ERR_DEVICE_NOT_CONNECTED, as a vendor library does without
//                  its interface (for hosts' tests of that path);
//   VXSIM_INSTANT  1: everything on the line takes no time; 0: real time even
//                  when the profile says "instant";
//   VXSIM_UNWRITTEN  SIM_UNWRITTEN_* bits (decimal or 0x hex): the outputs
//                  the device leaves unwritten while it answers STATUS_NOERROR
//                  (for hosts' tests of a careless driver).
//
// Built several times from the same sources: SIM_WITHOUT_LAST_ERROR leaves out
// PassThruGetLastError (optional in J2534-1), SIM_WITHOUT_IOCTL leaves out
// PassThruIoctl (a required entry point, to test a library that lacks one),
// SIM_WITHOUT_MSG_FILTER leaves out PassThruStartMsgFilter and
// PassThruStopMsgFilter (a library the core binds without them), SIM_LENIENT
// makes a device that is lenient from the start (frames pass without a
// filter, READ_VBATT on any id), and SIM_WITH_DEPENDENCY makes the library
// import a DLL placed beside it.
#include <algorithm>
#include <cstring>
#include <type_traits>

#include "device_state.h"

#if defined(SIM_WITH_DEPENDENCY)
extern "C" int sim_dep_marker(void);
#endif

namespace {

// The J2534-1 04.04 values the device answers with and understands.
using namespace vx::j2534;
using vxsim::Filter;
using vxsim::QueuedReply;
using vxsim::sim_mutex;
using vxsim::State;
using vxsim::state;

constexpr const char* kFunctionNames[SIM_FN_COUNT] = {
    "PassThruOpen",    "PassThruClose",     "PassThruConnect", "PassThruDisconnect",
    "PassThruReadMsgs", "PassThruWriteMsgs", "PassThruIoctl",   "PassThruGetLastError",
    "PassThruStartMsgFilter", "PassThruStopMsgFilter",
};

// J2534-1 04.04, 7.3.7: a device takes at least 10 filters per channel.
constexpr std::size_t kMaxFilters = 10;

// Waits the scripted delay before the call is answered, outside the lock so
// the back door stays usable meanwhile. Like every wait of the device it
// follows the virtual clock when a test has switched that on.
void honour_delay(int function) {
    unsigned int ms = 0;
    {
        std::lock_guard<std::mutex> lock(sim_mutex());
        ms = state().delay_ms[function];
    }
    vxsim::wait_us(std::uint64_t{ms} * 1000u);
}

sim_call new_record(int function) {
    sim_call record;
    std::memset(&record, 0, sizeof record);
    record.function = function;
    std::strncpy(record.name, kFunctionNames[function], sizeof record.name - 1);
    return record;
}

// The status chosen for this call by the order in the header; 0 when nothing
// is scripted for it.
long chosen_status(int function, const unsigned long* ioctl_id) {
    State& s = state();
    const unsigned int nth = ++s.calls_made[function];
    if (auto it = s.status_nth[function].find(nth); it != s.status_nth[function].end()) {
        return it->second;
    }
    if (!s.status_queue[function].empty()) {
        const long status = s.status_queue[function].front();
        s.status_queue[function].pop_front();
        return status;
    }
    if (ioctl_id != nullptr) {
        if (auto q = s.ioctl_queue.find(*ioctl_id); q != s.ioctl_queue.end() && !q->second.empty()) {
            const long status = q->second.front();
            q->second.pop_front();
            return status;
        }
        if (auto it = s.ioctl_status.find(*ioctl_id); it != s.ioctl_status.end()) {
            return it->second;
        }
    }
    return s.status_all[function];
}

// A scripted status other than 0 replaces the call's effect; a scripted 0
// lets the device answer as it would.
bool scripted_status(int function, const unsigned long* ioctl_id, long& status) {
    status = chosen_status(function, ioctl_id);
    return status != kStatusNoError;
}

long finish(sim_call& record, long status) {
    record.status = status;
    state().calls.push_back(record);
    return status;
}

bool channel_rejected(unsigned long channel_id) {
    const State& s = state();
    return s.strict_ids && !(s.channel_open && channel_id == s.channel_id);
}

bool device_rejected(unsigned long device_id) {
    const State& s = state();
    return s.strict_ids && !(s.device_open && device_id == s.device_id);
}

// The message count a read or write leaves for the caller, and in the record.
void report_count(sim_call& record, unsigned long* count, unsigned long value) {
    if (count != nullptr) *count = value;
    record.num_msgs_out = value;
}

#if !defined(SIM_WITHOUT_MSG_FILTER)
bool filter_matches(const Filter& filter, const unsigned char* data, std::size_t size) {
    if (size < filter.mask.size()) return false;
    for (std::size_t i = 0; i < filter.mask.size(); ++i) {
        if ((data[i] & filter.mask[i]) != (filter.pattern[i] & filter.mask[i])) return false;
    }
    return true;
}
#endif

// J2534-1 04.04, 7.3.7: a received frame reaches the application when no
// BLOCK_FILTER matches it and a PASS_FILTER does; with no filter, none does.
bool frame_passes(const State& s, const unsigned char* data, std::size_t size) {
#if defined(SIM_WITHOUT_MSG_FILTER)
    (void)s;
    (void)data;
    (void)size;
    return true;  // no filters to set, so none to keep
#else
    if (s.lenient) return true;
    bool passed = false;
    for (const Filter& filter : s.filters) {
        if (!filter_matches(filter, data, size)) continue;
        if (filter.type == kBlockFilter) return false;
        if (filter.type == kPassFilter) passed = true;
    }
    return passed;
#endif
}

// The channel is gone: its filters with it.
void end_channel(State& s) {
    s.channel_open = false;
    s.filters.clear();
}

// The next reply the vehicle has arrived that a filter lets through, waiting
// up to the time-out for one; the ones blocked are dropped.
long read_vehicle_reply(sim_call& record, PASSTHRU_MSG& msg, unsigned long& count, unsigned long timeout,
                        std::uint64_t& wait) {
    vxsim::Vehicle::RxOutcome rx = state().vehicle.receive(timeout);
    while (rx.status == kStatusNoError && !frame_passes(state(), rx.data.data(), rx.data.size())) {
        rx = state().vehicle.receive(timeout);
    }
    wait = rx.wait_us;
    if (rx.status != kStatusNoError) {
        report_count(record, &count, 0);
        return rx.status;
    }
    const auto size = std::min<std::size_t>(rx.data.size(), SIM_MAX_FRAME);
    msg.ProtocolID = kProtocolIso9141;
    msg.RxStatus = 0;
    msg.TxFlags = 0;
    msg.Timestamp = rx.timestamp_us;
    msg.DataSize = static_cast<unsigned long>(size);
    msg.ExtraDataIndex = static_cast<unsigned long>(size);
    std::copy_n(rx.data.begin(), size, msg.Data);
    report_count(record, &count, 1);
    return kStatusNoError;
}

// One message for PassThruReadMsgs: a released scripted reply first, else the
// vehicle's, else the empty-read status.
long read_one(sim_call& record, PASSTHRU_MSG& msg, unsigned long& count, unsigned long timeout,
              std::uint64_t& wait) {
    State& s = state();
    const unsigned long reported_override = s.read_reported >= 0 ? static_cast<unsigned long>(s.read_reported) : 0;
    const auto released = [&](const QueuedReply& r) { return r.release_at <= s.successful_writes; };
    auto ready = std::find_if(s.replies.begin(), s.replies.end(), released);
    while (ready != s.replies.end() && !frame_passes(s, ready->data.data(), ready->data.size())) {
        ready = std::find_if(s.replies.erase(ready), s.replies.end(), released);
    }
    if (ready == s.replies.end() && s.vehicle_on && count != 0) return read_vehicle_reply(record, msg, count, timeout, wait);
    if (ready == s.replies.end() || count == 0) {
        const long empty = s.read_empty_status;
        report_count(record, &count, empty == kStatusNoError && s.read_reported >= 0 ? reported_override : 0);
        return empty;
    }
    const sim_reply& f = ready->fields;
    msg.ProtocolID = f.protocol_id;
    msg.RxStatus = f.rx_status;
    msg.TxFlags = f.tx_flags;
    msg.Timestamp = f.timestamp;
    msg.DataSize = f.override_data_size != 0 ? f.data_size : static_cast<unsigned long>(ready->data.size());
    msg.ExtraDataIndex = f.extra_data_index;
    std::copy(ready->data.begin(), ready->data.end(), msg.Data);
    s.replies.erase(ready);
    report_count(record, &count, s.read_reported >= 0 ? reported_override : 1);
    return kStatusNoError;
}

// Where a read puts a message it leaves unwritten for the caller.
PASSTHRU_MSG& scratch_message() {
    static PASSTHRU_MSG msg;
    return msg;
}

void record_first_message(sim_call& record, const PASSTHRU_MSG& msg) {
    record.msg_protocol_id = msg.ProtocolID;
    record.msg_tx_flags = msg.TxFlags;
    record.msg_data_size = msg.DataSize;
    record.msg_extra_data_index = msg.ExtraDataIndex;
    record.frame_size = std::min<unsigned long>(msg.DataSize, SIM_MAX_FRAME);
    std::memcpy(record.frame, msg.Data, record.frame_size);
}

// PassThruWriteMsgs once its arguments passed: the messages go on the line one
// after another when the vehicle is on.
long write_all(sim_call& record, const PASSTHRU_MSG* msgs, unsigned long& count, long long queued_count,
               unsigned long timeout, std::uint64_t& wait) {
    State& s = state();
    for (unsigned long i = 0; s.vehicle_on && i < record.num_msgs_in; ++i) {
        const auto size = std::min<std::size_t>(msgs[i].DataSize, SIM_MAX_FRAME);
        const vxsim::Vehicle::TxOutcome tx = s.vehicle.transmit(msgs[i].Data, size, msgs[i].TxFlags, timeout);
        wait += tx.wait_us;
        if (tx.status != kStatusNoError) {
            report_count(record, &count, i);
            return tx.status;
        }
    }
    ++s.successful_writes;
    if (queued_count >= 0) {
        report_count(record, &count, static_cast<unsigned long>(queued_count));
    } else {
        report_count(record, &count,
                     s.write_reported >= 0 ? static_cast<unsigned long>(s.write_reported) : record.num_msgs_in);
    }
    return kStatusNoError;
}

#if !defined(SIM_WITHOUT_IOCTL)
void record_ioctl_inputs(sim_call& record, unsigned long ioctl_id, const void* input, const void* output) {
    if (ioctl_id == kIoctlSetConfig && input != nullptr) {
        const auto* list = static_cast<const SCONFIG_LIST*>(input);
        record.config_num_params = list->NumOfParams;
        if (list->ConfigPtr != nullptr) {
            record.config_count = std::min<unsigned long>(list->NumOfParams, SIM_MAX_CONFIG);
            for (unsigned long i = 0; i < record.config_count; ++i) {
                record.config_parameter[i] = list->ConfigPtr[i].Parameter;
                record.config_value[i] = list->ConfigPtr[i].Value;
            }
        }
    }
    if (ioctl_id != kIoctlFiveBaudInit) return;
    if (input != nullptr) {
        const auto* in = static_cast<const SBYTE_ARRAY*>(input);
        record.init_input_num_bytes = in->NumOfBytes;
        if (in->BytePtr != nullptr) {
            record.init_input_count = std::min<unsigned long>(in->NumOfBytes, SIM_MAX_INIT_BYTES);
            std::memcpy(record.init_input, in->BytePtr, record.init_input_count);
        }
    }
    if (output != nullptr) {
        const auto* out = static_cast<const SBYTE_ARRAY*>(output);
        record.init_output_num_bytes_in = out->NumOfBytes;
        record.init_output_num_bytes_out = out->NumOfBytes;
    }
}

long set_config(State& s, const void* input) {
    if (input == nullptr) return kErrNullParameter;
    const auto* list = static_cast<const SCONFIG_LIST*>(input);
    if (s.vehicle_on && list->ConfigPtr != nullptr) {
        for (unsigned long i = 0; i < list->NumOfParams; ++i) {
            if (list->ConfigPtr[i].Parameter == kParamDataRate) s.vehicle.set_baud_rate(list->ConfigPtr[i].Value);
        }
    }
    return kStatusNoError;
}

long five_baud_init(State& s, sim_call& record, const void* input, void* output, std::uint64_t& wait) {
    if (input == nullptr || output == nullptr) return kErrNullParameter;
    auto* out = static_cast<SBYTE_ARRAY*>(output);
    if (out->BytePtr == nullptr) return kErrNullParameter;
    const unsigned long room = std::min<unsigned long>(out->NumOfBytes, SIM_MAX_INIT_BYTES);
    const bool unwritten = (s.unwritten & SIM_UNWRITTEN_KEY_BYTES) != 0;
    if (!s.vehicle_on) {
        if (unwritten) return kStatusNoError;
        std::memcpy(out->BytePtr, s.keys, std::min(room, s.key_count));
        out->NumOfBytes = s.key_reported;
        record.init_output_num_bytes_out = s.key_reported;
        return kStatusNoError;
    }
    const auto* in = static_cast<const SBYTE_ARRAY*>(input);
    if (in->BytePtr == nullptr || in->NumOfBytes == 0) return kErrNullParameter;
    const vxsim::Vehicle::InitOutcome init = s.vehicle.five_baud_init(in->BytePtr[0]);
    wait = init.wait_us;
    if (unwritten && init.status == kStatusNoError) return kStatusNoError;
    const auto keys = static_cast<unsigned long>(init.key_bytes.size());
    std::copy_n(init.key_bytes.begin(), std::min(room, keys), out->BytePtr);
    out->NumOfBytes = keys;
    record.init_output_num_bytes_out = keys;
    return init.status;
}

long clear_rx_buffer(State& s) {
    if (s.vehicle_on) s.vehicle.clear_received();
    if (s.clear_rx_discards) {
        std::erase_if(s.replies, [&](const QueuedReply& r) { return r.release_at <= s.successful_writes; });
    }
    return kStatusNoError;
}

// The device's own answer to an ioctl the script leaves to it.
long answer_ioctl(sim_call& record, unsigned long ioctl_id, const void* input, void* output, std::uint64_t& wait) {
    State& s = state();
    switch (ioctl_id) {
        case kIoctlSetConfig: return set_config(s, input);
        case kIoctlReadVbatt:
            // J2534-1 04.04 7.3.8: a device ioctl, asked by the device id; the
            // output is an unsigned long in millivolts.
            if (output == nullptr) return kErrNullParameter;
            if (!s.lenient && !(s.device_open && record.channel_id == s.device_id)) return kErrInvalidChannelId;
            if ((s.unwritten & SIM_UNWRITTEN_VBATT) != 0) return kStatusNoError;
            *static_cast<unsigned long*>(output) = s.battery_millivolts;
            record.vbatt_written = s.battery_millivolts;
            return kStatusNoError;
        case kIoctlFiveBaudInit: return five_baud_init(s, record, input, output, wait);
        case kIoctlClearTxBuffer: return kStatusNoError;
        case kIoctlClearRxBuffer: return clear_rx_buffer(s);
        default: return kErrInvalidIoctlId;
    }
}
#endif
#if !defined(SIM_WITHOUT_MSG_FILTER)
void record_filter(sim_call& record, unsigned long type, const PASSTHRU_MSG* mask, const PASSTHRU_MSG* pattern,
                   const PASSTHRU_MSG* flow_control) {
    record.filter_type = type;
    record.filter_flow_control_non_null = flow_control != nullptr ? 1 : 0;
    if (mask != nullptr) {
        record.filter_protocol_id = mask->ProtocolID;
        record.filter_size = mask->DataSize;
        record.filter_count = std::min<unsigned long>(mask->DataSize, SIM_MAX_FILTER_BYTES);
        std::memcpy(record.filter_mask, mask->Data, record.filter_count);
        if (pattern != nullptr) std::memcpy(record.filter_pattern, pattern->Data, record.filter_count);
    }
}

// J2534-1 04.04, 7.3.7: what makes a PASS or BLOCK filter unusable.
long filter_refusal(const State& s, unsigned long type, const PASSTHRU_MSG& mask, const PASSTHRU_MSG& pattern,
                    const PASSTHRU_MSG* flow_control) {
    if (type == kFlowControlFilter) return kErrInvalidMsg;  // ISO 15765 channels only
    if (type != kPassFilter && type != kBlockFilter) return kErrFailed;
    if (flow_control != nullptr) return kErrInvalidMsg;
    if (mask.ProtocolID != s.channel_protocol || pattern.ProtocolID != s.channel_protocol) return kErrMsgProtocolId;
    if (mask.DataSize == 0 || mask.DataSize > SIM_MAX_FILTER_BYTES || pattern.DataSize != mask.DataSize) {
        return kErrInvalidMsg;
    }
    if (s.filters.size() >= kMaxFilters) return kErrExceededLimit;
    return kStatusNoError;
}

#endif
}  // namespace

extern "C" {

long VX_WINAPI PassThruOpen(void* pName, unsigned long* pDeviceID) {
    honour_delay(SIM_FN_OPEN);
    std::lock_guard<std::mutex> lock(sim_mutex());
    State& s = state();
    sim_call record = new_record(SIM_FN_OPEN);
    record.name_was_null = pName == nullptr ? 1 : 0;
#if defined(SIM_WITH_DEPENDENCY)
    // Using the dependency makes the loader resolve it before any call.
    if (sim_dep_marker() != 42) return finish(record, 7);
#endif
    long status = kStatusNoError;
    if (scripted_status(SIM_FN_OPEN, nullptr, status)) return finish(record, status);
    if (pDeviceID == nullptr) return finish(record, kErrNullParameter);
    if (s.strict_ids && s.device_open) return finish(record, kErrDeviceInUse);
    if (s.vehicle_on && s.no_device) {
        constexpr char kNotConnected[] = "Simulated VCI not connected (VXSIM_NO_DEVICE is set).";
        s.last_error.assign(kNotConnected, kNotConnected + sizeof kNotConnected - 1);
        return finish(record, kErrDeviceNotConnected);
    }
    if (s.vehicle_on && !s.open_refusal.empty()) {
        s.last_error.assign(s.open_refusal.begin(), s.open_refusal.end());
        if (s.last_error.size() > SIM_LAST_ERROR_CAPACITY - 1) s.last_error.resize(SIM_LAST_ERROR_CAPACITY - 1);
        return finish(record, kErrFailed);
    }
    if ((s.unwritten & SIM_UNWRITTEN_DEVICE_ID) == 0) {
        *pDeviceID = s.device_id;
        record.device_id = s.device_id;
    }
    s.device_open = true;
    return finish(record, kStatusNoError);
}

long VX_WINAPI PassThruClose(unsigned long DeviceID) {
    honour_delay(SIM_FN_CLOSE);
    std::lock_guard<std::mutex> lock(sim_mutex());
    State& s = state();
    sim_call record = new_record(SIM_FN_CLOSE);
    record.device_id = DeviceID;
    long status = kStatusNoError;
    if (scripted_status(SIM_FN_CLOSE, nullptr, status)) return finish(record, status);
    if (device_rejected(DeviceID)) return finish(record, kErrInvalidDeviceId);
    s.device_open = false;
    end_channel(s);
    s.vehicle.disconnect();
    return finish(record, kStatusNoError);
}

long VX_WINAPI PassThruConnect(unsigned long DeviceID, unsigned long ProtocolID,
                                      unsigned long Flags, unsigned long BaudRate,
                                      unsigned long* pChannelID) {
    honour_delay(SIM_FN_CONNECT);
    std::lock_guard<std::mutex> lock(sim_mutex());
    State& s = state();
    sim_call record = new_record(SIM_FN_CONNECT);
    record.device_id = DeviceID;
    record.protocol_id = ProtocolID;
    record.flags = Flags;
    record.baud_rate = BaudRate;
    long status = kStatusNoError;
    if (scripted_status(SIM_FN_CONNECT, nullptr, status)) return finish(record, status);
    if (pChannelID == nullptr) return finish(record, kErrNullParameter);
    if (device_rejected(DeviceID)) return finish(record, kErrInvalidDeviceId);
    if ((s.unwritten & SIM_UNWRITTEN_CHANNEL_ID) == 0) {
        *pChannelID = s.channel_id;
        record.channel_id = s.channel_id;
    }
    end_channel(s);  // one channel at a time: a new one starts without filters
    s.channel_open = true;
    s.channel_protocol = ProtocolID;
    s.vehicle.connect(BaudRate, Flags);
    return finish(record, kStatusNoError);
}

long VX_WINAPI PassThruDisconnect(unsigned long ChannelID) {
    honour_delay(SIM_FN_DISCONNECT);
    std::lock_guard<std::mutex> lock(sim_mutex());
    State& s = state();
    sim_call record = new_record(SIM_FN_DISCONNECT);
    record.channel_id = ChannelID;
    long status = kStatusNoError;
    if (scripted_status(SIM_FN_DISCONNECT, nullptr, status)) return finish(record, status);
    if (channel_rejected(ChannelID)) return finish(record, kErrInvalidChannelId);
    end_channel(s);
    s.vehicle.disconnect();
    return finish(record, kStatusNoError);
}

long VX_WINAPI PassThruReadMsgs(unsigned long ChannelID, PASSTHRU_MSG* pMsg, unsigned long* pNumMsgs,
                                unsigned long Timeout) {
    honour_delay(SIM_FN_READ_MSGS);
    // The vehicle's waiting happens after the lock is released, so the back
    // door stays usable meanwhile.
    std::uint64_t wait = 0;
    const long result = [&]() -> long {
        std::lock_guard<std::mutex> lock(sim_mutex());
        sim_call record = new_record(SIM_FN_READ_MSGS);
        record.channel_id = ChannelID;
        record.timeout = Timeout;
        record.input_non_null = pMsg != nullptr ? 1 : 0;
        record.num_msgs_in = pNumMsgs != nullptr ? *pNumMsgs : 0;
        long status = kStatusNoError;
        if (scripted_status(SIM_FN_READ_MSGS, nullptr, status)) {
            report_count(record, pNumMsgs, 0);
            return finish(record, status);
        }
        if (pMsg == nullptr || pNumMsgs == nullptr) return finish(record, kErrNullParameter);
        if (channel_rejected(ChannelID)) {
            report_count(record, pNumMsgs, 0);
            return finish(record, kErrInvalidChannelId);
        }
        // A device that leaves the message unwritten still reports it.
        PASSTHRU_MSG& msg = (state().unwritten & SIM_UNWRITTEN_READ_MSG) != 0 ? scratch_message() : *pMsg;
        return finish(record, read_one(record, msg, *pNumMsgs, Timeout, wait));
    }();
    vxsim::wait_us(wait);
    return result;
}

long VX_WINAPI PassThruWriteMsgs(unsigned long ChannelID, PASSTHRU_MSG* pMsg, unsigned long* pNumMsgs,
                                 unsigned long Timeout) {
    honour_delay(SIM_FN_WRITE_MSGS);
    std::uint64_t wait = 0;
    const long result = [&]() -> long {
        std::lock_guard<std::mutex> lock(sim_mutex());
        State& s = state();
        sim_call record = new_record(SIM_FN_WRITE_MSGS);
        record.channel_id = ChannelID;
        record.timeout = Timeout;
        record.input_non_null = pMsg != nullptr ? 1 : 0;
        record.num_msgs_in = pNumMsgs != nullptr ? *pNumMsgs : 0;
        if (pMsg != nullptr && record.num_msgs_in > 0) record_first_message(record, *pMsg);
        // A count queued for this call is reported with any status: devices that
        // report a written message together with an error exist.
        long long queued_count = -1;
        if (!s.write_count_queue.empty()) {
            queued_count = s.write_count_queue.front();
            s.write_count_queue.pop_front();
        }
        long status = kStatusNoError;
        if (scripted_status(SIM_FN_WRITE_MSGS, nullptr, status)) {
            report_count(record, pNumMsgs, queued_count >= 0 ? static_cast<unsigned long>(queued_count) : 0);
            return finish(record, status);
        }
        if (pMsg == nullptr || pNumMsgs == nullptr) return finish(record, kErrNullParameter);
        if (channel_rejected(ChannelID)) {
            report_count(record, pNumMsgs, 0);
            return finish(record, kErrInvalidChannelId);
        }
        return finish(record, write_all(record, pMsg, *pNumMsgs, queued_count, Timeout, wait));
    }();
    vxsim::wait_us(wait);
    return result;
}

#if !defined(SIM_WITHOUT_IOCTL)
long VX_WINAPI PassThruIoctl(unsigned long ChannelID, unsigned long IoctlID, void* pInput, void* pOutput) {
    honour_delay(SIM_FN_IOCTL);
    std::uint64_t wait = 0;
    const long result = [&]() -> long {
        std::lock_guard<std::mutex> lock(sim_mutex());
        sim_call record = new_record(SIM_FN_IOCTL);
        record.channel_id = ChannelID;
        record.ioctl_id = IoctlID;
        record.input_non_null = pInput != nullptr ? 1 : 0;
        record.output_non_null = pOutput != nullptr ? 1 : 0;
        // Recorded before deciding anything: they are what the core sent.
        record_ioctl_inputs(record, IoctlID, pInput, pOutput);

        long status = kStatusNoError;
        if (scripted_status(SIM_FN_IOCTL, &IoctlID, status)) return finish(record, status);
        // READ_VBATT takes the device id and checks it itself.
        if (IoctlID != kIoctlReadVbatt && channel_rejected(ChannelID)) return finish(record, kErrInvalidChannelId);
        return finish(record, answer_ioctl(record, IoctlID, pInput, pOutput, wait));
    }();
    vxsim::wait_us(wait);
    return result;
}
#endif

#if !defined(SIM_WITHOUT_LAST_ERROR)
long VX_WINAPI PassThruGetLastError(char* pErrorDescription) {
    honour_delay(SIM_FN_GET_LAST_ERROR);
    std::lock_guard<std::mutex> lock(sim_mutex());
    State& s = state();
    sim_call record = new_record(SIM_FN_GET_LAST_ERROR);
    record.output_non_null = pErrorDescription != nullptr ? 1 : 0;
    long status = kStatusNoError;
    if (scripted_status(SIM_FN_GET_LAST_ERROR, nullptr, status)) return finish(record, status);
    if (pErrorDescription == nullptr) return finish(record, kErrNullParameter);
    std::copy(s.last_error.begin(), s.last_error.end(), pErrorDescription);
    if (s.last_error.size() < SIM_LAST_ERROR_CAPACITY) pErrorDescription[s.last_error.size()] = '\0';
    return finish(record, s.last_error_status);
}
#endif

#if !defined(SIM_WITHOUT_MSG_FILTER)
long VX_WINAPI PassThruStartMsgFilter(unsigned long ChannelID, unsigned long FilterType, PASSTHRU_MSG* pMaskMsg,
                                      PASSTHRU_MSG* pPatternMsg, PASSTHRU_MSG* pFlowControlMsg,
                                      unsigned long* pMsgID) {
    honour_delay(SIM_FN_START_MSG_FILTER);
    std::lock_guard<std::mutex> lock(sim_mutex());
    State& s = state();
    sim_call record = new_record(SIM_FN_START_MSG_FILTER);
    record.channel_id = ChannelID;
    record.input_non_null = pMaskMsg != nullptr && pPatternMsg != nullptr ? 1 : 0;
    record.output_non_null = pMsgID != nullptr ? 1 : 0;
    record_filter(record, FilterType, pMaskMsg, pPatternMsg, pFlowControlMsg);
    long status = kStatusNoError;
    if (scripted_status(SIM_FN_START_MSG_FILTER, nullptr, status)) return finish(record, status);
    if (pMaskMsg == nullptr || pPatternMsg == nullptr || pMsgID == nullptr) return finish(record, kErrNullParameter);
    if (channel_rejected(ChannelID) || !s.channel_open) return finish(record, kErrInvalidChannelId);
    status = filter_refusal(s, FilterType, *pMaskMsg, *pPatternMsg, pFlowControlMsg);
    if (status != kStatusNoError) return finish(record, status);
    Filter filter;
    filter.id = s.next_filter_id++;
    filter.type = FilterType;
    filter.mask.assign(pMaskMsg->Data, pMaskMsg->Data + pMaskMsg->DataSize);
    filter.pattern.assign(pPatternMsg->Data, pPatternMsg->Data + pPatternMsg->DataSize);
    *pMsgID = filter.id;
    record.filter_id = filter.id;
    s.filters.push_back(std::move(filter));
    return finish(record, kStatusNoError);
}

long VX_WINAPI PassThruStopMsgFilter(unsigned long ChannelID, unsigned long MsgID) {
    honour_delay(SIM_FN_STOP_MSG_FILTER);
    std::lock_guard<std::mutex> lock(sim_mutex());
    State& s = state();
    sim_call record = new_record(SIM_FN_STOP_MSG_FILTER);
    record.channel_id = ChannelID;
    record.filter_id = MsgID;
    long status = kStatusNoError;
    if (scripted_status(SIM_FN_STOP_MSG_FILTER, nullptr, status)) return finish(record, status);
    if (channel_rejected(ChannelID) || !s.channel_open) return finish(record, kErrInvalidChannelId);
    const auto found = std::find_if(s.filters.begin(), s.filters.end(), [&](const Filter& f) { return f.id == MsgID; });
    if (found == s.filters.end()) return finish(record, kErrInvalidMsgId);
    s.filters.erase(found);
    return finish(record, kStatusNoError);
}
#endif

}  // extern "C"

// The entry points must have exactly the types the core calls them through.
static_assert(std::is_same_v<decltype(&PassThruOpen), PTOPEN>);
static_assert(std::is_same_v<decltype(&PassThruClose), PTCLOSE>);
static_assert(std::is_same_v<decltype(&PassThruConnect), PTCONNECT>);
static_assert(std::is_same_v<decltype(&PassThruDisconnect), PTDISCONNECT>);
static_assert(std::is_same_v<decltype(&PassThruReadMsgs), PTREADMSGS>);
static_assert(std::is_same_v<decltype(&PassThruWriteMsgs), PTWRITEMSGS>);
#if !defined(SIM_WITHOUT_IOCTL)
static_assert(std::is_same_v<decltype(&PassThruIoctl), PTIOCTL>);
#endif
#if !defined(SIM_WITHOUT_LAST_ERROR)
static_assert(std::is_same_v<decltype(&PassThruGetLastError), PTGETLASTERROR>);
#endif
#if !defined(SIM_WITHOUT_MSG_FILTER)
static_assert(std::is_same_v<decltype(&PassThruStartMsgFilter), PTSTARTMSGFILTER>);
static_assert(std::is_same_v<decltype(&PassThruStopMsgFilter), PTSTOPMSGFILTER>);
#endif
