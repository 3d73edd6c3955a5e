/* The yardstick's exports; yardstick.h says what it covers. */
#define _POSIX_C_SOURCE 200809L

#include "yardstick.h"

#include <dirent.h>
#include <limits.h>
#include <stdarg.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <time.h>

#define MAX_HEX_BYTES 128

static const char kUnsupported[] = "{\"ok\":false,\"error\":\"The yardstick has no device.\"}";
static const char kCommandNotConnected[] =
    "{\"ok\":false,\"stage\":\"not-connected\",\"commandSent\":false,\"noTx\":true,"
    "\"message\":\"Connect ECU first. No ISO9141/J2534 channel is open.\"}";
static const char kChannelNotOpen[] = "{\"ok\":false,\"stage\":\"not-connected\",\"message\":\"ISO9141 channel is not open.\"}";
static const char kReadNoChannel[] =
    "{\"ok\":false,\"mode\":\"real-j2534\",\"message\":\"No J2534 channel is open. Connect ECU first.\",\"%s\":[]}";

static struct {
    int simulation;
    unsigned long channel_id;
    int ecu_init_confirmed;
    unsigned kwp71_counter;
    int clock_fixed;
    YardClock clock;
    char *log;
    size_t log_size;
    size_t log_capacity;
} g_yard = {0, 0, 0, 1, 0, {0, 0, 0, 0, 0, 0, 0}, NULL, 0, 0};

static void *checked_malloc(size_t size) {
    void *memory = malloc(size);
    if (memory == NULL) abort();
    return memory;
}

void yard_fix_clock(const YardClock *clock) {
    g_yard.clock_fixed = clock != NULL;
    if (clock != NULL) g_yard.clock = *clock;
}

void yard_reset(int simulation) {
    g_yard.simulation = simulation != 0;
    g_yard.channel_id = 0;
    g_yard.ecu_init_confirmed = 0;
    g_yard.kwp71_counter = 1;
}

void yard_clear_log(void) {
    free(g_yard.log);
    g_yard.log = NULL;
    g_yard.log_size = g_yard.log_capacity = 0;
}

/* ---- Results and log lines ---- */

/* snprintf into the caller's buffer: it copies what fits with a NUL and
 * returns the full length, which is the result buffer convention. */
static int put(char *buffer, int size, const char *format, ...) {
    va_list args;
    int length;
    va_start(args, format);
    if (buffer == NULL || size <= 0) {
        length = vsnprintf(NULL, 0, format, args);
    } else {
        length = vsnprintf(buffer, (size_t)size, format, args);
    }
    va_end(args);
    return length;
}

static void append_to_log(const char *line, size_t length) {
    if (g_yard.log_size + length > g_yard.log_capacity) {
        size_t capacity = g_yard.log_capacity * 2;
        char *grown;
        if (capacity < g_yard.log_size + length) capacity = g_yard.log_size + length;
        grown = realloc(g_yard.log, capacity);
        if (grown == NULL) abort();
        g_yard.log = grown;
        g_yard.log_capacity = capacity;
    }
    memcpy(g_yard.log + g_yard.log_size, line, length);
    g_yard.log_size += length;
}

/* One line: the timestamp, then the formatted text (its own blank first and
 * its line end last). */
static void log_line(const char *format, ...) {
    char line[512];
    char *text = line;
    va_list args;
    int stamp;
    int length;
    struct tm parts;
    if (g_yard.clock_fixed) {
        memset(&parts, 0, sizeof parts);
        parts.tm_year = g_yard.clock.year - 1900;
        parts.tm_mon = g_yard.clock.month - 1;
        parts.tm_mday = g_yard.clock.day;
        parts.tm_hour = g_yard.clock.hour;
        parts.tm_min = g_yard.clock.minute;
        parts.tm_sec = g_yard.clock.second;
    } else {
        const time_t now = time(NULL);
        localtime_r(&now, &parts);
    }
    stamp = snprintf(line, sizeof line, "%04d-%02d-%02d %02d:%02d:%02d", parts.tm_year + 1900, parts.tm_mon + 1,
                     parts.tm_mday, parts.tm_hour, parts.tm_min, parts.tm_sec);
    va_start(args, format);
    length = vsnprintf(line + stamp, sizeof line - (size_t)stamp, format, args);
    va_end(args);
    if ((size_t)(stamp + length) >= sizeof line) {
        text = checked_malloc((size_t)(stamp + length) + 1);
        memcpy(text, line, (size_t)stamp);
        va_start(args, format);
        vsnprintf(text + stamp, (size_t)length + 1, format, args);
        va_end(args);
    }
    append_to_log(text, (size_t)(stamp + length));
    if (text != line) free(text);
}

/* The answer of a K-line operation in simulation: its line, its fixed text. */
static int simulated(const char *line, const char *result, char *buffer, int size) {
    log_line(" %s simulation: no TX\r\n", line);
    return put(buffer, size, "%s", result);
}

static unsigned tick_count_ms(void) {
    struct timespec now;
    if (g_yard.clock_fixed) return g_yard.clock.tick_ms;
    clock_gettime(CLOCK_MONOTONIC, &now);
    return (unsigned)((unsigned long long)now.tv_sec * 1000u + (unsigned long long)now.tv_nsec / 1000000u);
}

/* ---- Texts ---- */

static char *copy_range(const char *begin, size_t length) {
    char *out = checked_malloc(length + 1);
    memcpy(out, begin, length);
    out[length] = '\0';
    return out;
}

static char *json_escaped(const char *text) {
    static const char kHex[] = "0123456789abcdef";
    char *out = checked_malloc(strlen(text) * 6 + 1);
    char *p = out;
    for (; *text != '\0'; ++text) {
        const unsigned char c = (unsigned char)*text;
        if (c == '"' || c == '\\') {
            *p++ = '\\';
            *p++ = (char)c;
        } else if (c == '\n' || c == '\r' || c == '\t') {
            *p++ = '\\';
            *p++ = c == '\n' ? 'n' : (c == '\r' ? 'r' : 't');
        } else if (c < 0x20) {
            p += sprintf(p, "\\u00%c%c", kHex[c >> 4], kHex[c & 0x0F]);
        } else {
            *p++ = (char)c;
        }
    }
    *p = '\0';
    return out;
}

static void lowercase(char *text) {
    for (; *text != '\0'; ++text) {
        if (*text >= 'A' && *text <= 'Z') *text = (char)(*text - 'A' + 'a');
    }
}

/* Up to MAX_HEX_BYTES + 1 bytes are kept; the count goes on. */
static int parse_hex(const char *text, unsigned char *out, size_t *count) {
    int pending = -1;
    *count = 0;
    for (; *text != '\0'; ++text) {
        const char c = *text;
        int value;
        if (c == 'x' || c == 'X') {
            pending = -1;
            continue;
        }
        if (c >= '0' && c <= '9') {
            value = c - '0';
        } else if (c >= 'a' && c <= 'f') {
            value = c - 'a' + 10;
        } else if (c >= 'A' && c <= 'F') {
            value = c - 'A' + 10;
        } else {
            continue;
        }
        if (pending < 0) {
            pending = value;
        } else {
            if (*count <= MAX_HEX_BYTES) out[*count] = (unsigned char)(pending * 16 + value);
            ++*count;
            pending = -1;
        }
    }
    return pending < 0 && *count >= 1 && *count <= MAX_HEX_BYTES;
}

/* out holds 3 * count bytes. */
static void hex_text(const unsigned char *bytes, size_t count, char *out) {
    size_t i;
    out[0] = '\0';
    for (i = 0; i < count; ++i) out += sprintf(out, i == 0 ? "%02X" : " %02X", bytes[i]);
}

/* ---- The request reader: each field found by its own search ---- */

static char *field_text(const char *request, const char *key) {
    char pattern[64];
    const char *p;
    snprintf(pattern, sizeof pattern, "\"%s\"", key);
    p = request != NULL ? strstr(request, pattern) : NULL;
    if (p != NULL) p = strchr(p + strlen(pattern), ':');
    if (p == NULL || p[1] == '\0') return copy_range("", 0);
    for (++p; *p == ' ' || *p == '\t' || *p == '\r' || *p == '\n'; ++p) {
    }
    if (*p == '"') {
        char *out = checked_malloc(strlen(p));
        size_t n = 0;
        for (++p; *p != '\0' && *p != '"'; ++p) {
            char c = *p;
            if (c == '\\') {
                c = *++p;
                if (c == '\0') break;  /* a lone trailing backslash adds nothing */
                c = c == 'n' ? '\n' : (c == 'r' ? '\r' : (c == 't' ? '\t' : c));
            }
            out[n++] = c;
        }
        out[n] = '\0';
        return out;
    } else {
        size_t n = strcspn(p, ",}");
        while (n > 0 && (p[n - 1] == ' ' || p[n - 1] == '\t')) --n;
        return copy_range(p, n);
    }
}

static int field_int(const char *request, const char *key, int fallback) {
    char *text = field_text(request, key);
    long value = fallback;
    if (text[0] != '\0') value = strtol(text, NULL, 10);
    free(text);
    return value > INT_MAX ? INT_MAX : (value < INT_MIN ? INT_MIN : (int)value);
}

static int field_flag(const char *request, const char *key) {
    char *text = field_text(request, key);
    int on;
    lowercase(text);
    on = strcmp(text, "true") == 0 || strcmp(text, "1") == 0 || strcmp(text, "yes") == 0;
    free(text);
    return on;
}

/* The text fields of keys in their order, each found by its own search. */
static void read_fields(const char *request, const char *const *keys, size_t count, char **values) {
    size_t i;
    for (i = 0; i < count; ++i) values[i] = field_text(request, keys[i]);
}

static void free_fields(char **values, size_t count) {
    size_t i;
    for (i = 0; i < count; ++i) free(values[i]);
}

/* ---- Exports ---- */

const char *yard_core_version(void) { return "Vexaro Arvessa Ryx J2534 communication core ready"; }

int yard_set_simulation(int enabled) {
    g_yard.simulation = enabled != 0;
    log_line(enabled != 0 ? " simulation=ON\r\n" : " simulation=OFF\r\n");
    return 0;
}

int yard_get_last_log(char *buffer, int size) {
    if (buffer != NULL && size > 0) {
        const size_t n = g_yard.log_size < (size_t)size - 1 ? g_yard.log_size : (size_t)size - 1;
        if (n != 0) memcpy(buffer, g_yard.log, n);
        buffer[n] = '\0';
    }
    return (int)g_yard.log_size;
}

int yard_list_j2534_devices(char *buffer, int size) {
    const char *home = getenv("HOME");
    int registrations = 0;
    if (home != NULL && home[0] != '\0') {
        char path[PATH_MAX];
        DIR *folder;
        snprintf(path, sizeof path, "%s/.passthru", home);
        folder = opendir(path);
        if (folder != NULL) {
            const struct dirent *entry;
            while ((entry = readdir(folder)) != NULL) {
                const size_t length = strlen(entry->d_name);
                registrations += length > 5 && strcmp(entry->d_name + length - 5, ".json") == 0;
            }
            closedir(folder);
        }
    }
    return put(buffer, size, "%s", registrations == 0 ? "{\"ok\":true,\"devices\":[]}" : kUnsupported);
}

int yard_test_iso9141_connect(unsigned baud_rate, char *buffer, int size) {
    (void)baud_rate;
    if (!g_yard.simulation) return put(buffer, size, "{\"ok\":false,\"stage\":\"not-open\",\"error\":\"Open a J2534 DLL first.\"}");
    g_yard.channel_id = 1;
    g_yard.ecu_init_confirmed = 1;
    g_yard.kwp71_counter = 1;
    return simulated("ISO9141 connect",
                     "{\"ok\":true,\"simulation\":true,\"noTx\":true,\"stage\":\"ISO9141 simulation\","
                     "\"message\":\"Simulation ISO9141 connect OK. No J2534 command was transmitted.\"}",
                     buffer, size);
}

int yard_try_five_baud_init(unsigned ecu_address, char *buffer, int size) {
    (void)ecu_address;
    if (!g_yard.simulation) {
        if (g_yard.channel_id != 0) return put(buffer, size, "%s", kUnsupported);
        return put(buffer, size, "{\"ok\":false,\"stage\":\"not-connected\",\"error\":\"Run ISO9141 connect first.\"}");
    }
    g_yard.ecu_init_confirmed = 1;
    g_yard.kwp71_counter = 1;
    return simulated("FIVE_BAUD_INIT",
                     "{\"ok\":true,\"simulation\":true,\"noTx\":true,\"initOk\":true,\"warning\":false,"
                     "\"stage\":\"FIVE_BAUD_INIT simulation\","
                     "\"message\":\"Simulation 5-baud init OK. No J2534 command was transmitted.\",\"bytes\":[]}",
                     buffer, size);
}

/* Both probes: simulated, or no channel to probe. */
static int probe_without_device(const char *line, const char *result, char *buffer, int size) {
    if (!g_yard.simulation) return put(buffer, size, "%s", g_yard.channel_id != 0 ? kUnsupported : kChannelNotOpen);
    return simulated(line, result, buffer, size);
}

int yard_kline_activity_probe(char *buffer, int size) {
    return probe_without_device("KLineActivityProbe",
                                "{\"ok\":true,\"simulation\":true,\"noTx\":true,\"stage\":\"KLineActivityProbe "
                                "simulation\",\"physicalTxConfirmed\":false,\"note\":\"Simulation mode active: "
                                "physical K-line probe skipped and no TX was sent.\",\"probes\":[],\"rxCount\":0,\"rx\":[]}",
                                buffer, size);
}

int yard_protocol_traffic_probe(const char *probe, char *buffer, int size) {
    (void)probe;
    return probe_without_device("ProtocolTrafficProbe",
                                "{\"ok\":true,\"simulation\":true,\"noTx\":true,\"stage\":\"ProtocolTrafficProbe "
                                "simulation\",\"probe\":\"simulation listen only\",\"writeRc\":0,\"txHex\":\"\","
                                "\"txMessagesWritten\":0,\"rxCount\":0,\"rx\":[]}",
                                buffer, size);
}

int yard_read_battery_voltage(char *buffer, int size) {
    if (!g_yard.simulation) return put(buffer, size, "%s", kUnsupported);
    return put(buffer, size,
               "{\"ok\":true,\"available\":true,\"simulation\":true,\"volts\":12.6,"
               "\"vbattMilliV\":12600,\"display\":\"12.6V\",\"message\":\"Simulation battery voltage.\"}");
}

int yard_read_faults(const char *unused, char *buffer, int size) {
    (void)unused;
    if (!g_yard.simulation) {
        if (g_yard.channel_id != 0) return put(buffer, size, "%s", kUnsupported);
        return put(buffer, size, kReadNoChannel, "faults");
    }
    log_line(" VX_ReadFaults simulation - no decoded fault rows returned yet\n");
    return put(buffer, size,
               "{\"ok\":true,\"mode\":\"Simulation\",\"message\":\"No fault data returned yet.\",\"faults\":[]}");
}

int yard_read_live_data(const char *unused, char *buffer, int size) {
    unsigned t;
    (void)unused;
    if (!g_yard.simulation) {
        if (g_yard.channel_id != 0) return put(buffer, size, "%s", kUnsupported);
        return put(buffer, size, kReadNoChannel, "values");
    }
    t = tick_count_ms();
    return put(buffer, size,
               "{\"ok\":true,\"mode\":\"simulation\",\"releaseMode\":\"group\",\"values\":["
               "{\"name\":\"Engine speed\",\"value\":\"%u\",\"unit\":\"rpm\",\"address\":\"0x2001\"},"
               "{\"name\":\"Battery voltage\",\"value\":\"%u.%u\",\"unit\":\"V\",\"address\":\"0x2006\"},"
               "{\"name\":\"Engine temperature\",\"value\":\"%u.%u\",\"unit\":\"degrees C\",\"address\":\"0x2008\"},"
               "{\"name\":\"Throttle absolute angle\",\"value\":\"%u.%u\",\"unit\":\"%%\",\"address\":\"0x2058\"},"
               "{\"name\":\"Injection time\",\"value\":\"%u.%u\",\"unit\":\"ms\",\"address\":\"0x2060\"}]}",
               850 + t / 90 % 180, (134 + t / 500 % 8) / 10, (134 + t / 500 % 8) % 10,
               (780 + 10 * (t / 800 % 10)) / 10, (780 + 10 * (t / 800 % 10)) % 10, (25 + t / 600 % 14) / 10,
               (25 + t / 600 % 14) % 10, (20 + t / 700 % 8) / 10, (20 + t / 700 % 8) % 10);
}

/* The not-connected answer of the three commands, or kUnsupported with a
 * channel; name is the raw request value. */
static int command_without_device(const char *area, const char *name, char *buffer, int size) {
    if (g_yard.channel_id != 0) return put(buffer, size, "%s", kUnsupported);
    log_line(" %s blocked - no ISO9141 channel name=%s\r\n", area, name);
    return put(buffer, size, "%s", kCommandNotConnected);
}

static int command_refusal(const char *stage, const char *message, char *buffer, int size) {
    return put(buffer, size, "{\"ok\":false,\"stage\":\"%s\",\"commandSent\":false,\"message\":\"%s\"}", stage, message);
}

enum SafeField { kSafeType, kSafeName, kSafeMode, kSafeStartHex, kSafeStopHex, kSafeFields };
static const char *const kSafeKeys[kSafeFields] = {"type", "name", "mode", "startHex", "stopHex"};

int yard_run_safe_function(const char *request, char *buffer, int size) {
    char *f[kSafeFields];
    int fallback_probe, max_run_ms, timeout_ms, length;
    read_fields(request, kSafeKeys, kSafeFields, f);
    fallback_probe = field_flag(request, "backendForwardFallbackProbe");
    max_run_ms = field_int(request, "maxRunMs", 1000);
    timeout_ms = field_int(request, "timeoutMs", 1000);
    (void)fallback_probe, (void)max_run_ms, (void)timeout_ms;
    lowercase(f[kSafeMode]);
    if (g_yard.simulation) {
        char *type_json = json_escaped(f[kSafeType]);
        char *name_json = json_escaped(f[kSafeName]);
        length = put(buffer, size,
                     "{\"ok\":true,\"stage\":\"simulation\",\"simulation\":true,\"commandSent\":false,\"noTx\":true,"
                     "\"type\":\"%s\",\"name\":\"%s\",\"message\":\"Simulation completed. No vehicle command was "
                     "transmitted.\"}",
                     type_json, name_json);
        log_line(" FunctionExecution simulation %s name=%s mode=%s\r\n", f[kSafeType], f[kSafeName], f[kSafeMode]);
        free(type_json);
        free(name_json);
    } else {
        length = command_without_device("FunctionExecution", f[kSafeName], buffer, size);
    }
    free_fields(f, kSafeFields);
    return length;
}

/* The block of a KWP71 actuator request, or the refusal's error text. */
static const char *build_kwp71_block(const char *command_type, const char *payload_hex, const char *trailer,
                                     int sequence, unsigned char *block, size_t *length) {
    unsigned char title[MAX_HEX_BYTES + 1], data[MAX_HEX_BYTES + 1], end[MAX_HEX_BYTES + 1];
    size_t title_count, data_count, end_count;
    if (!parse_hex(command_type, title, &title_count) || title_count != 1) {
        return "commandType must be exactly one byte, for example 04.";
    }
    if (!parse_hex(payload_hex, data, &data_count)) return "payloadHex must contain at least one byte.";
    if (!parse_hex(trailer[0] != '\0' ? trailer : "03", end, &end_count)) {
        return "trailer must contain at least one byte, normally 03.";
    }
    if (2 + data_count + end_count > 255) return "KWP71 block body length exceeds one byte.";
    block[0] = (unsigned char)(2 + data_count + end_count);
    block[1] = (unsigned char)(sequence >= 1 && sequence <= 255 ? (unsigned)sequence : g_yard.kwp71_counter);
    block[2] = title[0];
    memcpy(block + 3, data, data_count);
    memcpy(block + 3 + data_count, end, end_count);
    *length = 3 + data_count + end_count;
    return NULL;
}

static int actuator_answer(const char *name, const char *mode, const char *error, const unsigned char *block,
                           size_t block_length, char *buffer, int size) {
    char tx_hex[3 * 258];
    char *name_json;
    int length;
    if (strstr(mode, "kwp71") == NULL) {
        log_line(" KWP71 actuator blocked - invalid mode name=%s mode=%s\r\n", name, mode);
        return command_refusal("kwp71-mode-required", "VX_RunActuatorKwp71 requires mode=kwp71-command-data.",
                               buffer, size);
    }
    if (error != NULL) {
        log_line(" KWP71 actuator build failed name=%s error=%s\r\n", name, error);
        return command_refusal("kwp71-build-failed", error, buffer, size);
    }
    hex_text(block, block_length, tx_hex);
    if (!g_yard.simulation) return command_without_device("KWP71 actuator", name, buffer, size);
    name_json = json_escaped(name);
    length = put(buffer, size,
                 "{\"ok\":true,\"stage\":\"kwp71-simulation\",\"simulation\":true,\"commandSent\":false,"
                 "\"noTx\":true,\"name\":\"%s\",\"sequence\":%u,\"nextSequence\":%u,\"txHex\":\"%s\",\"message\":"
                 "\"KWP71 actuator frame generated in simulation. No vehicle command was transmitted.\"}",
                 name_json, (unsigned)block[1], g_yard.kwp71_counter, tx_hex);
    log_line(" KWP71 actuator simulation name=%s TX=%s\r\n", name, tx_hex);
    free(name_json);
    return length;
}

enum ActuatorField { kActName, kActMode, kActCommandType, kActPayloadHex, kActTrailer, kActFields };
static const char *const kActuatorKeys[kActFields] = {"name", "mode", "commandType", "payloadHex", "trailer"};

int yard_run_actuator_kwp71(const char *request, char *buffer, int size) {
    char *f[kActFields];
    int sequence, max_run_ms, timeout_ms, length;
    unsigned char block[3 + 2 * MAX_HEX_BYTES];
    size_t block_length = 0;
    const char *error;
    read_fields(request, kActuatorKeys, kActFields, f);
    sequence = field_int(request, "sequence", -1);
    max_run_ms = field_int(request, "maxRunMs", 1000);
    timeout_ms = field_int(request, "timeoutMs", 1000);
    (void)max_run_ms, (void)timeout_ms;
    error = build_kwp71_block(f[kActCommandType], f[kActPayloadHex], f[kActTrailer], sequence, block, &block_length);
    lowercase(f[kActMode]);
    length = actuator_answer(f[kActName], f[kActMode], error, block, block_length, buffer, size);
    free_fields(f, kActFields);
    return length;
}

enum ClearField { kClrName, kClrMode, kClrClearHex, kClrStopHex, kClrCommandType, kClrPayloadHex, kClrTrailer, kClrFields };
static const char *const kClearKeys[kClrFields] = {"name",        "mode",       "clearHex", "stopHex",
                                                   "commandType", "payloadHex", "trailer"};

int yard_clear_fault_memory(const char *request, char *buffer, int size) {
    char *f[kClrFields];
    int sequence, timeout_ms, length;
    read_fields(request, kClearKeys, kClrFields, f);
    if (f[kClrClearHex][0] == '\0') {
        free(f[kClrClearHex]);
        f[kClrClearHex] = field_text(request, "startHex");
    }
    sequence = field_int(request, "sequence", 0);
    timeout_ms = field_int(request, "timeoutMs", 1500);
    (void)sequence, (void)timeout_ms;
    lowercase(f[kClrMode]);
    if (g_yard.simulation) {
        log_line(" ClearFaultMemory simulation - no TX name=%s\r\n", f[kClrName]);
        length = put(buffer, size,
                     "{\"ok\":true,\"stage\":\"simulation\",\"simulation\":true,\"commandSent\":false,"
                     "\"noTx\":true,\"message\":\"Simulation mode: fault results window can be cleared, but no "
                     "ECU fault memory command was transmitted.\"}");
    } else {
        length = command_without_device("ClearFaultMemory", f[kClrName], buffer, size);
    }
    free_fields(f, kClrFields);
    return length;
}
