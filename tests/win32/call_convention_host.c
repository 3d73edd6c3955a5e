/* A 32-bit host that checks the calling conventions on both sides of the
 * core, as the production build meets them (i686, under Wine or Windows):
 *
 * - every export is called through a __cdecl pointer by an assembly thunk
 *   (cdecl_call.c): ESP must be as the thunk left it (the callee pops
 *   nothing) and EBX, ESI, EDI and EBP must hold the thunk's values;
 * - the session runs against the stack-recording PassThru library
 *   (stack_probe_vci.c), which forwards to the simulated VCI: every J2534
 *   call must return with its arguments popped (ESP up by 4 plus the argument
 *   bytes), and consecutive calls from one return address must arrive with
 *   the same ESP, which a core that calls the entry points as cdecl breaks.
 *
 *   call_convention_host <core DLL> <simulated VCI DLL> <stack-recording VCI DLL>
 *
 * Exit status 0 when every check held. */
#include <stdint.h>
#include <stdio.h>
#include <string.h>
#include <windows.h>

#include "cdecl_call.h"
#include "stack_probe.h"

enum { kAnswerSize = 65536, kMaxArgs = 3, kRecordCapacity = 4096 };

typedef struct Call {
    const char* export_name;
    uint32_t count;
    uint32_t args[kMaxArgs]; /* kAnswer: the answer buffer; kSize: its size */
    const char* expected;    /* a text the answer holds */
} Call;

static const uint32_t kAnswer = 0xA0A0A0A0u;
static const uint32_t kSize = 0xB0B0B0B0u;
static char answer[kAnswerSize];
static StackProbeRecord records[kRecordCapacity];
static int failures;
static unsigned same_site_pairs;
static unsigned j2534_calls;

static void fail(const char* what, const char* detail) {
    printf("FAIL %s: %s\n", what, detail);
    ++failures;
}

static uint32_t text(const char* s) { return (uint32_t)(uintptr_t)s; }

/* Checks the J2534 calls one export made. */
static void check_j2534_calls(const char* export_name, StackProbeTake take, StackProbeEntry entry) {
    const uint32_t total = take(records, kRecordCapacity);
    const uint32_t kept = total < kRecordCapacity ? total : kRecordCapacity;
    char detail[256];
    j2534_calls += total;
    for (uint32_t i = 0; i < kept; ++i) {
        uint32_t bytes = 0;
        const char* name = entry(records[i].index, &bytes);
        const int32_t popped = (int32_t)(records[i].return_esp - records[i].entry_esp);
        if (name == NULL || popped != (int32_t)(4 + bytes)) {
            snprintf(detail, sizeof detail, "%s: ESP on return is entry %+ld, expected +%lu", name ? name : "?",
                     (long)popped, (unsigned long)(4 + bytes));
            fail(export_name, detail);
        }
        if (i > 0 && records[i].return_address == records[i - 1].return_address) {
            ++same_site_pairs;
            if (records[i].entry_esp != records[i - 1].entry_esp) {
                snprintf(detail, sizeof detail,
                         "%s called twice from 0x%08lx with ESP 0x%08lx then 0x%08lx: the caller does not "
                         "call it as __stdcall",
                         name ? name : "?", (unsigned long)records[i].return_address,
                         (unsigned long)records[i - 1].entry_esp, (unsigned long)records[i].entry_esp);
                fail(export_name, detail);
            }
        }
    }
}

int main(int argc, char** argv) {
    if (argc != 4) {
        fprintf(stderr, "usage: %s <core DLL> <simulated VCI DLL> <stack-recording VCI DLL>\n", argv[0]);
        return 2;
    }
    HMODULE probe = LoadLibraryA(argv[3]);
    HMODULE core = LoadLibraryA(argv[1]);
    if (probe == NULL || core == NULL) {
        fprintf(stderr, "cannot load %s\n", probe == NULL ? argv[3] : argv[1]);
        return 1;
    }
    StackProbeForwardTo forward_to =
        (StackProbeForwardTo)(void (*)(void))GetProcAddress(probe, "stack_probe_forward_to");
    StackProbeTake take = (StackProbeTake)(void (*)(void))GetProcAddress(probe, "stack_probe_take");
    StackProbeEntry entry = (StackProbeEntry)(void (*)(void))GetProcAddress(probe, "stack_probe_entry");
    if (forward_to == NULL || take == NULL || entry == NULL || !forward_to(argv[2])) {
        fprintf(stderr, "the stack-recording VCI cannot forward to %s\n", argv[2]);
        return 1;
    }

    const char* safe_function = "{\"type\":\"actuator\",\"name\":\"Idle speed valve\",\"mode\":\"verified\","
                                "\"startHex\":\"04 01 04 01 03\",\"stopHex\":\"04 03 04 00 03\",\"maxRunMs\":500}";
    const char* actuator = "{\"name\":\"Fuel pump relay\",\"mode\":\"kwp71-command-data\",\"commandType\":\"04\","
                           "\"payloadHex\":\"02\"}";
    const char* clear = "{\"name\":\"Clear fault memory\",\"mode\":\"kwp71\",\"commandType\":\"05\","
                        "\"payloadHex\":\"00\"}";
    /* A whole session, every export at least once. */
    const Call calls[] = {
        {"VX_CoreVersion", 0, {0}, "communication core ready"},
        {"VX_SetSimulation", 1, {0}, NULL},
        {"VX_ListJ2534Devices", 2, {kAnswer, kSize}, "\"ok\":true"},
        {"VX_OpenJ2534Dll", 3, {text(argv[3]), kAnswer, kSize}, "\"ok\":true"},
        {"VX_TestIso9141Connect", 3, {10400, kAnswer, kSize}, "\"baud\":10400"},
        {"VX_TryFiveBaudInit", 3, {0x33, kAnswer, kSize}, "\"initOk\":true"},
        {"VX_KLineActivityProbe", 2, {kAnswer, kSize}, "\"ok\":true"},
        {"VX_ReadBatteryVoltage", 2, {kAnswer, kSize}, "\"available\":true"},
        {"VX_ReadFaults", 3, {0, kAnswer, kSize}, "\"ecuResponseSeen\":true"},
        {"VX_ReadLiveData", 3, {0, kAnswer, kSize}, "\"ecuResponseSeen\":true"},
        {"VX_TryFiveBaudInit", 3, {0x10, kAnswer, kSize}, "\"initOk\":true"},
        {"VX_ProtocolTrafficProbe", 3, {text("KWP71"), kAnswer, kSize}, "\"rxCount\":1"},
        {"VX_RunSafeFunction", 3, {text(safe_function), kAnswer, kSize}, "\"commandSent\":true"},
        {"VX_RunActuatorKwp71", 3, {text(actuator), kAnswer, kSize}, "\"commandSent\":true"},
        {"VX_ClearFaultMemory", 3, {text(clear), kAnswer, kSize}, "\"commandSent\":true"},
        {"VX_CloseJ2534", 2, {kAnswer, kSize}, "{\"ok\":true}"},
        {"VX_GetLastLog", 2, {kAnswer, kSize}, "PassThru closed"},
    };
    const size_t call_count = sizeof calls / sizeof calls[0];

    /* The session covers exactly the exports the build makes. */
    char names[] = VXDIAG_EXPORT_NAMES;
    unsigned export_count = 0;
    for (char* name = strtok(names, ","); name != NULL; name = strtok(NULL, ",")) {
        ++export_count;
        int called = 0;
        for (size_t i = 0; i < call_count; ++i) called |= strcmp(calls[i].export_name, name) == 0;
        if (!called) fail(name, "not called by this check");
    }

    for (size_t i = 0; i < call_count; ++i) {
        const Call* call = &calls[i];
        const void* function = (const void*)GetProcAddress(core, call->export_name);
        if (function == NULL) {
            fail(call->export_name, "not exported");
            continue;
        }
        uint32_t args[kMaxArgs];
        for (uint32_t a = 0; a < call->count; ++a) {
            args[a] = call->args[a] == kAnswer ? text(answer)
                      : call->args[a] == kSize ? (uint32_t)kAnswerSize
                                               : call->args[a];
        }
        answer[0] = '\0';
        CdeclCallCheck check = {0, 0};
        const int result = vx_cdecl_call(function, args, call->count, &check);
        const char* reply = call->count == 0 ? (const char*)(uintptr_t)(uint32_t)result : answer;
        char detail[160];
        if (check.esp_delta != 0 || check.clobbered != 0) {
            snprintf(detail, sizeof detail,
                     "ESP %+ld after the call (cdecl: +0), callee-saved registers changed: 0x%lx",
                     (long)check.esp_delta, (unsigned long)check.clobbered);
            fail(call->export_name, detail);
        } else if (call->expected != NULL && (reply == NULL || strstr(reply, call->expected) == NULL)) {
            fail(call->export_name, reply == NULL ? "no answer" : reply);
        } else {
            printf("ok   %s: ESP +0, callee-saved registers kept\n", call->export_name);
        }
        check_j2534_calls(call->export_name, take, entry);
    }

    printf("%u exports called through a cdecl pointer; %u J2534 calls through the stack-recording VCI, "
           "%u of them repeated from one call site\n",
           export_count, j2534_calls, same_site_pairs);
    /* Without repeated calls from one site the stdcall check would be empty. */
    if (j2534_calls == 0 || same_site_pairs == 0) fail("the session", "no J2534 call was repeated from one call site");
    return failures == 0 ? 0 : 1;
}
