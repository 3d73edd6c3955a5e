/*
 * The simulated PassThru device's back door for tests.
 *
 * The simulated device is a shared library that exports ten SAE J2534-1
 * 04.04 entry points exactly as a vendor library does, so the core loads and
 * binds it by path like any other. Besides them it exports the plain C
 * (default calling convention, undecorated) functions below, which tests
 * resolve by name from the same loaded library to script the device and to
 * read back what the core did to it. tests/support/sim_device.h wraps them.
 *
 * All state is process-wide and lives as long as the library stays loaded,
 * so a test holds its own reference to the library while the core loads and
 * frees it. sim_reset() puts everything back to the defaults listed here.
 *
 * Scripted statuses: when the status chosen for a call is not 0, the call has
 * no effect (nothing is written through its output pointers, except that
 * PassThruReadMsgs and PassThruWriteMsgs report a message count of 0) and the
 * status is returned. The status for a call is chosen in this order:
 *   1. a status set for the Nth call of that function (sim_set_status_nth;
 *      calls are counted per function from 1 since the last sim_reset);
 *   2. the next status queued for that function (sim_queue_status);
 *   3. for PassThruIoctl: the next status queued for that ioctl id, then the
 *      status set for that ioctl id;
 *   4. the status set for all calls of the function (sim_set_status).
 * The first of these that applies wins; when it is 0 (or none applies) the
 * call gets the device's own answer: 0, or ERR_NULL_PARAMETER (4) for a missing
 *      pointer it needs, ERR_INVALID_IOCTL_ID (17) for an ioctl it does not
 *      know, the empty-read status when no reply is available, and with
 *      strict ids ERR_INVALID_DEVICE_ID (28) / ERR_INVALID_CHANNEL_ID (2).
 *
 * The rules of J2534-1 04.04 that a careful device keeps, and that the core
 * must cope with, hold by default:
 *   - a channel receives nothing until a filter lets frames through: a frame
 *     is handed out only when it matches no BLOCK_FILTER and at least one
 *     PASS_FILTER ((data & mask) == (pattern & mask) over the mask's bytes;
 *     a frame shorter than the mask does not match). Frames blocked are
 *     dropped, as the device never queues them. Filters (at most 10 per
 *     channel, masks of 1 to 12 bytes, PassThruStartMsgFilter /
 *     PassThruStopMsgFilter, 7.3.7 and 7.3.8) end with the channel;
 *   - READ_VBATT is a device ioctl: given any id but the open device's, it
 *     answers ERR_INVALID_CHANNEL_ID (2).
 * sim_set_lenient(1), and the passthru_sim_lenient build from the start,
 * lets every frame through without a filter and answers READ_VBATT on any
 * id, as many vendor libraries do. The passthru_sim_no_filter build has no
 * filter entry points and so no receive filtering.
 *
 * Defaults after sim_reset(): every status 0, device id 1, channel id 2,
 * battery 12600 mV, five-baud key bytes 08 08 with NumOfBytes 2 reported,
 * no last-error text (GetLastError returns 0 and leaves the buffer zeroed),
 * empty-read status ERR_BUFFER_EMPTY (18), message counts reported truly,
 * strict ids off, the rules above kept (lenient only in the lenient build),
 * every output written, no filters, CLEAR_RX_BUFFER keeps queued replies, no delays, no replies
 * queued, an empty call record, the simulated vehicle off (built-in profile,
 * real time) and the real clock.
 *
 * The simulated vehicle (vehicle_model.h). A freshly loaded library has it on,
 * so a host that never calls the back door finds a vehicle on the K-line;
 * sim_reset() turns it off, so scripted tests see only their script. While it
 * is on, the device answers what the script leaves to it from the vehicle:
 *   - PassThruConnect and SET_CONFIG DATA_RATE set the line's baud rate; a
 *     new channel, PassThruDisconnect and PassThruClose put the ECUs to sleep;
 *   - READ_VBATT: the profile's battery (until sim_set_battery_millivolts);
 *   - FIVE_BAUD_INIT: the ECU with that wake address wakes and its key bytes
 *     come back; with no such ECU the ioctl fails with ERR_FAILED (7) and
 *     NumOfBytes 0. It takes 2 s for the address plus the ISO 9141-2 W1..W4
 *     times and the sync and key bytes (2.3 s when nobody answers);
 *   - PassThruWriteMsgs puts the message on the line (10 bit times a byte at
 *     the baud rate, plus the ISO 9141-2 checksum the device appends unless
 *     TxFlags or the connect flags carry ISO9141_NO_CHECKSUM 0x200) and blocks
 *     until it is out (ERR_TIMEOUT when that exceeds a non-zero time-out); the
 *     awake ECU answers after its P2 time;
 *   - PassThruReadMsgs hands out the ECU's answers once they have arrived,
 *     waiting up to the time-out for one; with nothing, ERR_TIMEOUT (9), or
 *     ERR_BUFFER_EMPTY (18) for a time-out of 0. Scripted replies come first;
 *   - CLEAR_RX_BUFFER drops the answers received so far.
 * Every wait goes through one function: real sleeps, nothing when the vehicle
 * is instant, or a virtual clock (sim_use_virtual_clock) that tests read.
 */
#ifndef PASSTHRU_SIM_CONTROL_H
#define PASSTHRU_SIM_CONTROL_H

#ifdef __cplusplus
extern "C" {
#endif

/* The entry points, as numbered in the call record and in the
 * per-function settings. */
enum sim_function {
    SIM_FN_OPEN = 0,
    SIM_FN_CLOSE = 1,
    SIM_FN_CONNECT = 2,
    SIM_FN_DISCONNECT = 3,
    SIM_FN_READ_MSGS = 4,
    SIM_FN_WRITE_MSGS = 5,
    SIM_FN_IOCTL = 6,
    SIM_FN_GET_LAST_ERROR = 7,
    SIM_FN_START_MSG_FILTER = 8,
    SIM_FN_STOP_MSG_FILTER = 9,
    SIM_FN_COUNT = 10
};

/* Outputs a device can leave unwritten while it returns STATUS_NOERROR, as
 * some drivers do (sim_set_unwritten takes them or-ed together). */
#define SIM_UNWRITTEN_DEVICE_ID 0x01u  /* PassThruOpen's *pDeviceID */
#define SIM_UNWRITTEN_CHANNEL_ID 0x02u /* PassThruConnect's *pChannelID */
#define SIM_UNWRITTEN_VBATT 0x04u      /* READ_VBATT's millivolts */
#define SIM_UNWRITTEN_KEY_BYTES 0x08u  /* FIVE_BAUD_INIT's key bytes and NumOfBytes */
#define SIM_UNWRITTEN_READ_MSG 0x10u   /* the message of a read that reports one */

/* The most frame bytes a record or a reply holds: the J2534 message data. */
#define SIM_MAX_FRAME 4128
/* The most SET_CONFIG pairs and FIVE_BAUD_INIT input bytes recorded. */
#define SIM_MAX_CONFIG 16
#define SIM_MAX_INIT_BYTES 16
/* The most mask and pattern bytes a filter takes (J2534-1 04.04, 7.3.7). */
#define SIM_MAX_FILTER_BYTES 12
/* The size of the buffer PassThruGetLastError may fill (the core's buffer). */
#define SIM_LAST_ERROR_CAPACITY 512

/* One reply the device will hand out through PassThruReadMsgs. */
typedef struct sim_reply {
    const unsigned char* data; /* the message bytes (may be null when size is 0) */
    unsigned long size;        /* bytes copied into Data, at most SIM_MAX_FRAME */
    unsigned long protocol_id;
    unsigned long rx_status;
    unsigned long tx_flags;
    unsigned long timestamp;
    unsigned long extra_data_index;
    int override_data_size;    /* non-zero: report data_size instead of size */
    unsigned long data_size;   /* e.g. beyond 4128 to misbehave */
    /* Released after this many successful PassThruWriteMsgs calls counted
     * from the moment the reply is queued; 0 = available at once. */
    unsigned int after_writes;
} sim_reply;

/* What one entry-point call received and returned. Fields that do not apply
 * to the function are 0. */
typedef struct sim_call {
    int function;        /* enum sim_function */
    char name[24];       /* "PassThruOpen", "PassThruIoctl", ... */
    long status;         /* what the call returned */
    int name_was_null;   /* PassThruOpen: the name argument was null */
    unsigned long device_id;  /* Open: written on success; Close, Connect: passed */
    unsigned long channel_id; /* Connect: written on success; the others: passed */
    unsigned long protocol_id;
    unsigned long flags;
    unsigned long baud_rate;
    unsigned long ioctl_id;
    unsigned long timeout;
    unsigned long num_msgs_in;  /* Read/Write: *pNumMsgs before the call */
    unsigned long num_msgs_out; /* Read/Write: *pNumMsgs after the call */
    int input_non_null;  /* Ioctl: pInput; Read/Write: pMsg */
    int output_non_null; /* Ioctl: pOutput (READ_VBATT's value pointer) */
    /* PassThruWriteMsgs: the first message as passed. */
    unsigned long msg_protocol_id;
    unsigned long msg_tx_flags;
    unsigned long msg_data_size;
    unsigned long msg_extra_data_index;
    unsigned long frame_size; /* min(DataSize, SIM_MAX_FRAME) */
    unsigned char frame[SIM_MAX_FRAME];
    /* SET_CONFIG: NumOfParams as passed and the first pairs. */
    unsigned long config_num_params;
    unsigned long config_count; /* pairs stored, at most SIM_MAX_CONFIG */
    unsigned long config_parameter[SIM_MAX_CONFIG];
    unsigned long config_value[SIM_MAX_CONFIG];
    /* FIVE_BAUD_INIT: the input NumOfBytes and bytes, the output NumOfBytes
     * as passed in (the room offered) and as written back. */
    unsigned long init_input_num_bytes;
    unsigned long init_input_count; /* bytes stored, at most SIM_MAX_INIT_BYTES */
    unsigned char init_input[SIM_MAX_INIT_BYTES];
    unsigned long init_output_num_bytes_in;
    unsigned long init_output_num_bytes_out;
    /* READ_VBATT: the millivolts written back (0 when nothing written). */
    unsigned long vbatt_written;
    /* PassThruStartMsgFilter: the type, the id written back (0 when none), the
     * mask message's ProtocolID and DataSize, the first mask and pattern bytes,
     * whether a flow-control message was passed. PassThruStopMsgFilter: the id
     * passed. */
    unsigned long filter_type;
    unsigned long filter_id;
    unsigned long filter_protocol_id;
    unsigned long filter_size;
    unsigned long filter_count; /* bytes stored, at most SIM_MAX_FILTER_BYTES */
    unsigned char filter_mask[SIM_MAX_FILTER_BYTES];
    unsigned char filter_pattern[SIM_MAX_FILTER_BYTES];
    int filter_flow_control_non_null;
} sim_call;

/*
 * The back door, as one list so the test helper can resolve every function
 * by name: X(return type, name, parameter list).
 */
#define SIM_CONTROL_FUNCTIONS(X)                                                              \
    /* Everything back to the defaults above; also empties the call record. */               \
    X(void, sim_reset, (void))                                                                \
    /* The status for every call of a function (enum sim_function). */                        \
    X(void, sim_set_status, (int function, long status))                                      \
    /* The status for the nth (1-based) call of a function since sim_reset. */                \
    X(void, sim_set_status_nth, (int function, unsigned int nth, long status))               \
    /* Queues a status for the next call of a function that has no nth status. */            \
    X(void, sim_queue_status, (int function, long status))                                    \
    /* The status for every PassThruIoctl call with this ioctl id. */                         \
    X(void, sim_set_ioctl_status, (unsigned long ioctl_id, long status))                      \
    /* Queues a status for the next PassThruIoctl call with this ioctl id. */                 \
    X(void, sim_queue_ioctl_status, (unsigned long ioctl_id, long status))                    \
    /* The id PassThruOpen writes and PassThruConnect writes. */                              \
    X(void, sim_set_device_id, (unsigned long device_id))                                     \
    X(void, sim_set_channel_id, (unsigned long channel_id))                                   \
    /* The millivolts READ_VBATT writes. */                                                   \
    X(void, sim_set_battery_millivolts, (unsigned long millivolts))                           \
    /* The key bytes FIVE_BAUD_INIT writes (at most the room the caller offers,            \
     * at most SIM_MAX_INIT_BYTES) and the NumOfBytes it reports back. */                     \
    X(void, sim_set_five_baud_keys,                                                           \
      (const unsigned char* keys, unsigned long count, unsigned long reported_num_bytes))    \
    /* PassThruGetLastError writes these bytes (at most SIM_LAST_ERROR_CAPACITY; a          \
     * NUL follows only when there is room) and returns status. */                            \
    X(void, sim_set_last_error, (const char* text, unsigned long length, long status))       \
    /* Queues a reply for PassThruReadMsgs. */                                                \
    X(void, sim_queue_reply, (const sim_reply* reply))                                        \
    /* The status of a read that finds no released reply (default 18). */                     \
    X(void, sim_set_read_empty_status, (long status))                                         \
    /* Message count a successful read / write reports; -1 = the true count. */              \
    X(void, sim_set_read_reported_count, (long long count))                                   \
    X(void, sim_set_write_reported_count, (long long count))                                  \
    /* Queues the message count the next PassThruWriteMsgs call reports, whatever         \
     * status it returns (a scripted failure included); before the settings above. */         \
    X(void, sim_queue_write_count, (long long count))                                         \
    /* Non-zero: Connect/Close need the opened device id, channel calls the                \
     * connected channel id. */                                                               \
    X(void, sim_set_strict_ids, (int strict))                                                 \
    /* Non-zero: frames pass without a filter, READ_VBATT takes any id. */                   \
    X(void, sim_set_lenient, (int lenient))                                                   \
    /* The SIM_UNWRITTEN_* outputs left unwritten from now on (0: all written). */           \
    X(void, sim_set_unwritten, (unsigned int outputs))                                        \
    /* Non-zero: CLEAR_RX_BUFFER drops the replies released so far. */                       \
    X(void, sim_set_clear_rx_discards, (int discards))                                        \
    /* Every call of the function sleeps this long (real time) before answering. */          \
    X(void, sim_set_delay_ms, (int function, unsigned int milliseconds))                      \
    /* Replies queued and not yet read, released or not. */                                   \
    X(unsigned long, sim_pending_replies, (void))                                             \
    /* Successful PassThruWriteMsgs calls since sim_reset. */                                 \
    X(unsigned long, sim_successful_writes, (void))                                           \
    /* The call record. sim_get_call copies record i and returns 1, or returns 0            \
     * when there is no record i. */                                                          \
    X(unsigned long, sim_call_count, (void))                                                  \
    X(int, sim_get_call, (unsigned long index, sim_call* out))                                \
    X(void, sim_clear_calls, (void))                                                          \
    /* Makes room in the call record for this many calls in all, so that recording        \
     * them allocates nothing (for allocation-failure tests); until sim_reset. */            \
    X(void, sim_reserve_calls, (unsigned long count))                                         \
    /* Non-zero: the simulated vehicle answers (see above); 0: it is off. */                \
    X(void, sim_set_vehicle, (int on))                                                        \
    /* Loads a vehicle profile from JSON text / from a file, replacing the current          \
     * one (and the battery value), and returns 1; returns 0 and keeps the current         \
     * one when it cannot be read (sim_vehicle_profile_error says why). */                   \
    X(int, sim_load_vehicle_profile, (const char* json_text))                                 \
    X(int, sim_load_vehicle_profile_file, (const char* path))                                 \
    /* Copies the last profile error (NUL-terminated, cut to size) and returns its          \
     * full length; 0 when the last load succeeded. */                                        \
    X(unsigned long, sim_vehicle_profile_error, (char* buffer, unsigned long size))          \
    /* Non-zero: everything on the line takes no time; 0: it takes its time. */             \
    X(void, sim_set_vehicle_instant, (int instant))                                           \
    /* Non-zero: the vehicle's waits advance a virtual clock that starts at 0              \
     * instead of sleeping; 0: real time again. */                                            \
    X(void, sim_use_virtual_clock, (int on))                                                  \
    /* Microseconds the virtual clock has advanced since it was switched on. */             \
    X(unsigned long long, sim_virtual_elapsed_us, (void))

#define SIM_DECLARE_CONTROL_FUNCTION(ret, name, params) ret name params;
SIM_CONTROL_FUNCTIONS(SIM_DECLARE_CONTROL_FUNCTION)
#undef SIM_DECLARE_CONTROL_FUNCTION

#ifdef __cplusplus
}
#endif

#endif /* PASSTHRU_SIM_CONTROL_H */
