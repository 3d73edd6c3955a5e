/*
 * The yardstick: a plain C implementation of the exports that answer without
 * a device, written the straightforward way (every request field found by
 * its own strstr and copied, result texts built with snprintf, a timestamp
 * from localtime_r per log line, no lock). The benchmarks run it beside the
 * core on the same inputs so that each figure has a plain C counterpart, and
 * compare both implementations' texts before timing them.
 *
 * Covered: the simulation switch on (every K-line export answers without the
 * device), no channel (the not-connected answers; the device itself is never
 * opened), the discovery with no registration file, the version, the log.
 * With a channel open and the switch off, or with registration files, the
 * yardstick has no device to talk to and answers kUnsupported.
 */
#ifndef VXDIAG_BENCH_YARDSTICK_H
#define VXDIAG_BENCH_YARDSTICK_H

#ifdef __cplusplus
extern "C" {
#endif

/* A fixed wall clock and tick count, as the core's clock hooks give one. */
typedef struct YardClock {
    int year, month, day, hour, minute, second;
    unsigned tick_ms;
} YardClock;

/* The clock every later call reads; null for the real one. Copied. */
void yard_fix_clock(const YardClock *clock);

/* The state after loading: switch off, no device, no channel, counter 1;
 * then the switch set as asked. The log is kept. */
void yard_reset(int simulation);
void yard_clear_log(void);

const char *yard_core_version(void);
int yard_set_simulation(int enabled);
int yard_get_last_log(char *buffer, int size);
int yard_list_j2534_devices(char *buffer, int size);
int yard_test_iso9141_connect(unsigned baud_rate, char *buffer, int size);
int yard_try_five_baud_init(unsigned ecu_address, char *buffer, int size);
int yard_kline_activity_probe(char *buffer, int size);
int yard_protocol_traffic_probe(const char *probe, char *buffer, int size);
int yard_read_battery_voltage(char *buffer, int size);
int yard_read_faults(const char *unused, char *buffer, int size);
int yard_read_live_data(const char *unused, char *buffer, int size);
int yard_run_safe_function(const char *request, char *buffer, int size);
int yard_run_actuator_kwp71(const char *request, char *buffer, int size);
int yard_clear_fault_memory(const char *request, char *buffer, int size);

#ifdef __cplusplus
}
#endif

#endif
