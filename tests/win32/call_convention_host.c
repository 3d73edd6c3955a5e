/* A 32-bit host that checks the calling conventions on both sides of the
 * core, as the production build meets them (i686, under Wine or Windows):
 * every export is called through a __cdecl pointer by the assembly thunk
 * below (ESP and EBX, ESI, EDI, EBP must come back as the thunk left them),
 * and the session's J2534 calls go through the stack-recording PassThru
 * library (stack_probe_vci.c), which checks that each is made as __stdcall.
 *
 *   call_convention_host <core DLL> <simulated VCI DLL> <stack-recording VCI DLL>
 *
 * Exit status 0 when every check held. */
#include <stdint.h>
#include <stdio.h>
#include <string.h>
#include <windows.h>

#if !defined(__i386__)
#  error "the 32-bit calling-convention check is for i686 only"
#endif

/* What the last vx_cdecl_call saw: ESP before and after the call (equal for
 * cdecl) and EBX, ESI, EDI and EBP as the callee left them. */
struct {
    uint32_t esp_before;
    uint32_t esp_after;
    uint32_t saved[4];
} vx_call_state;

/* Calls function(args[0], ..., args[count - 1]) and returns its EAX. Made by
 * hand so no compiler-generated frame (and no frame pointer restoring ESP)
 * can hide what the callee did to the stack: it pushes the arguments, loads
 * 0x5EB00001 to 0x5EB00004 into the callee-saved registers, calls, notes ESP
 * and those registers, then puts its own frame back from a saved copy. */
int vx_cdecl_call(const void* function, const uint32_t* args, uint32_t count);
__asm__(
    "  .text\n"
    "  .globl _vx_cdecl_call\n"
    "_vx_cdecl_call:\n"
    "  pushl %ebp\n"
    "  pushl %ebx\n"
    "  pushl %esi\n"
    "  pushl %edi\n"
    "  movl 20(%esp), %eax\n"          /* function */
    "  movl 24(%esp), %edx\n"          /* args */
    "  movl 28(%esp), %ecx\n"          /* count */
    "  movl %esp, vx_frame_esp\n"
    "  jecxz 2f\n"
    "1:\n"
    "  pushl -4(%edx,%ecx,4)\n"        /* the last argument first */
    "  loop 1b\n"
    "2:\n"
    "  movl $0x5EB00001, %ebx\n"
    "  movl $0x5EB00002, %esi\n"
    "  movl $0x5EB00003, %edi\n"
    "  movl $0x5EB00004, %ebp\n"
    "  movl %esp, _vx_call_state\n"
    "  call *%eax\n"
    "  movl %esp, _vx_call_state+4\n"
    "  movl %ebx, _vx_call_state+8\n"
    "  movl %esi, _vx_call_state+12\n"
    "  movl %edi, _vx_call_state+16\n"
    "  movl %ebp, _vx_call_state+20\n"
    "  movl vx_frame_esp, %esp\n"
    "  popl %edi\n"
    "  popl %esi\n"
    "  popl %ebx\n"
    "  popl %ebp\n"
    "  ret\n"
    "  .lcomm vx_frame_esp, 4\n");

enum { kAnswerSize = 65536 };

typedef struct Call {
    const char* export_name;
    uint32_t count;       /* arguments; with 2 or more the last two are the answer buffer and its size */
    uint32_t first;       /* the first argument of a call with 1 or 3 */
    const char* expected; /* a text the answer holds */
} Call;

static char answer[kAnswerSize];
static int failures;

static void fail(const char* what, const char* detail) {
    printf("FAIL %s: %s\n", what, detail);
    ++failures;
}

static uint32_t text(const char* s) { return (uint32_t)(uintptr_t)s; }

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
    /* Loads the library the calls are forwarded to; 1 when it has every entry point. */
    int (*forward_to)(const char*) =
        (int (*)(const char*))(void (*)(void))GetProcAddress(probe, "stack_probe_forward_to");
    /* Answers the stack faults since the last take (printed as they happened)
     * and adds to the counts of calls and of calls repeated from one return address. */
    uint32_t (*take)(uint32_t*, uint32_t*) =
        (uint32_t (*)(uint32_t*, uint32_t*))(void (*)(void))GetProcAddress(probe, "stack_probe_take");
    if (forward_to == NULL || take == NULL || !forward_to(argv[2])) {
        fprintf(stderr, "the stack-recording VCI cannot forward to %s\n", argv[2]);
        return 1;
    }

    const char* safe_function = "{\"mode\":\"verified\",\"startHex\":\"04 01\",\"stopHex\":\"04 00\",\"maxRunMs\":0}";
    const char* actuator = "{\"mode\":\"kwp71-command-data\",\"commandType\":\"04\",\"payloadHex\":\"02\"}";
    const char* clear = "{\"mode\":\"kwp71\",\"commandType\":\"05\",\"payloadHex\":\"00\"}";
    /* A whole session, every export at least once. */
    const Call calls[] = {
        {"VX_CoreVersion", 0, 0, "communication core ready"},
        {"VX_SetSimulation", 1, 0, NULL},
        {"VX_ListJ2534Devices", 2, 0, "\"ok\":true"},
        {"VX_OpenJ2534Dll", 3, text(argv[3]), "\"ok\":true"},
        {"VX_TestIso9141Connect", 3, 10400, "\"baud\":10400"},
        {"VX_TryFiveBaudInit", 3, 0x33, "\"initOk\":true"},
        {"VX_KLineActivityProbe", 2, 0, "\"ok\":true"},
        {"VX_ReadBatteryVoltage", 2, 0, "\"available\":true"},
        {"VX_ReadFaults", 3, 0, "\"ecuResponseSeen\":true"},
        {"VX_ReadLiveData", 3, 0, "\"ecuResponseSeen\":true"},
        {"VX_TryFiveBaudInit", 3, 0x10, "\"initOk\":true"},
        {"VX_ProtocolTrafficProbe", 3, text("KWP71"), "\"rxCount\":1"},
        {"VX_RunSafeFunction", 3, text(safe_function), "\"commandSent\":true"},
        {"VX_RunActuatorKwp71", 3, text(actuator), "\"commandSent\":true"},
        {"VX_ClearFaultMemory", 3, text(clear), "\"commandSent\":true"},
        {"VX_CloseJ2534", 2, 0, "{\"ok\":true}"},
        {"VX_GetLastLog", 2, 0, "PassThru closed"},
    };
    const size_t call_count = sizeof calls / sizeof calls[0];

    uint32_t j2534_calls = 0;
    uint32_t same_site_pairs = 0;
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
        const uint32_t args[3] = {call->count == 2 ? text(answer) : call->first,
                                  call->count == 2 ? kAnswerSize : text(answer), kAnswerSize};
        answer[0] = '\0';
        const int result = vx_cdecl_call(function, args, call->count);
        const char* reply = call->count == 0 ? (const char*)(uintptr_t)(uint32_t)result : answer;
        uint32_t clobbered = 0; /* 1 EBX, 2 ESI, 4 EDI, 8 EBP */
        for (uint32_t r = 0; r < 4; ++r) {
            if (vx_call_state.saved[r] != 0x5EB00001u + r) clobbered |= 1u << r;
        }
        const int32_t esp_delta = (int32_t)(vx_call_state.esp_after - vx_call_state.esp_before);
        char detail[160];
        if (esp_delta != 0 || clobbered != 0) {
            snprintf(detail, sizeof detail,
                     "ESP %+ld after the call (cdecl: +0), callee-saved registers changed: 0x%lx",
                     (long)esp_delta, (unsigned long)clobbered);
            fail(call->export_name, detail);
        } else if (call->expected != NULL && (reply == NULL || strstr(reply, call->expected) == NULL)) {
            fail(call->export_name, reply == NULL ? "no answer" : reply);
        } else {
            printf("ok   %s: ESP +0, callee-saved registers kept\n", call->export_name);
        }
        if (take(&j2534_calls, &same_site_pairs) != 0) fail(call->export_name, "a J2534 call was not __stdcall");
    }

    printf("%u exports called through a cdecl pointer; %lu J2534 calls through the stack-recording VCI, "
           "%lu of them repeated from one call site\n",
           export_count, (unsigned long)j2534_calls, (unsigned long)same_site_pairs);
    /* Without repeated calls from one site the stdcall check would be empty. */
    if (j2534_calls == 0 || same_site_pairs == 0) fail("the session", "no J2534 call was repeated from one call site");
    return failures == 0 ? 0 : 1;
}
