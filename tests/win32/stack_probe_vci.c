/* A PassThru library that checks the stack pointer around every J2534 call
 * and forwards the call, arguments untouched, to the simulated VCI. Each entry
 * point (generated from the simulated VCI's list, stack_probe_entries.h) notes
 * ESP on entry, puts the landing below in place of the caller's return address
 * and jumps on; the landing notes ESP once the callee has returned. A
 * __stdcall callee pops its arguments: ESP on return is ESP on entry plus 4
 * plus the argument bytes. A caller that calls as cdecl believes ESP
 * unchanged, so its next call from the same place of the same frame comes
 * with ESP higher by the argument bytes: consecutive calls from one return
 * address are compared. Faults are printed at once (a caller whose stack is
 * off may crash soon after) and counted for the host. One call at a time: the
 * core serialises its device calls. */
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <windows.h>

#if !defined(__i386__)
#  error "the stack-recording VCI is for i686 only"
#endif

static const struct {
    const char* name;
    uint32_t argument_bytes;
} kEntries[] = {
#define VX_PROBE_ENTRY(name, index, bytes) {#name, bytes},
#include "stack_probe_entries.h"
#undef VX_PROBE_ENTRY
};
enum { kEntryCount = sizeof kEntries / sizeof kEntries[0] };

static FARPROC targets[kEntryCount];
static uint32_t current_index;
static uint32_t current_entry_esp;
static uint32_t current_return_address; /* 0 before the first call since the last take */
static uint32_t calls;
static uint32_t same_site_pairs;
static uint32_t faults;

/* Called by the entry thunk: checks the entry against the previous call,
 * swaps the return address for the landing and answers the function to jump to. */
uint32_t vx_stack_probe_enter(uint32_t entry_esp, uint32_t index);
/* Called by the landing: checks ESP after the callee returned and answers
 * the caller's return address. */
uint32_t vx_stack_probe_leave(uint32_t return_esp);
extern char vx_stack_probe_landing[];

uint32_t vx_stack_probe_enter(uint32_t entry_esp, uint32_t index) {
    uint32_t* return_slot = (uint32_t*)(uintptr_t)entry_esp;
    if (index >= kEntryCount || targets[index] == NULL) {
        fprintf(stderr, "stack probe: entry %lu called without a library to forward to\n", (unsigned long)index);
        abort();
    }
    if (*return_slot == current_return_address) {
        ++same_site_pairs;
        if (entry_esp != current_entry_esp) {
            printf("stack probe: %s called again from 0x%08lx with ESP 0x%08lx, before with 0x%08lx: the caller "
                   "does not call it as __stdcall\n",
                   kEntries[index].name, (unsigned long)*return_slot, (unsigned long)entry_esp,
                   (unsigned long)current_entry_esp);
            ++faults;
        }
    }
    current_index = index;
    current_entry_esp = entry_esp;
    current_return_address = *return_slot;
    *return_slot = (uint32_t)(uintptr_t)vx_stack_probe_landing;
    return (uint32_t)(uintptr_t)targets[index];
}

uint32_t vx_stack_probe_leave(uint32_t return_esp) {
    const uint32_t expected = 4 + kEntries[current_index].argument_bytes;
    ++calls;
    if (return_esp - current_entry_esp != expected) {
        printf("stack probe: %s returned with ESP entry %+ld, expected +%lu\n", kEntries[current_index].name,
               (long)(int32_t)(return_esp - current_entry_esp), (unsigned long)expected);
        ++faults;
    }
    fflush(stdout);
    return current_return_address;
}

__asm__(
    "  .text\n"
    "vx_stack_probe_common:\n"        /* EAX: the entry's index */
    "  pushl %eax\n"
    "  leal 4(%esp), %ecx\n"          /* ESP on entry */
    "  pushl %ecx\n"
    "  call _vx_stack_probe_enter\n"
    "  addl $8, %esp\n"
    "  jmp *%eax\n"
    "  .globl _vx_stack_probe_landing\n"
    "_vx_stack_probe_landing:\n"
    "  pushl %eax\n"                  /* the callee's result */
    "  leal 4(%esp), %ecx\n"          /* ESP as the callee left it */
    "  pushl %ecx\n"
    "  call _vx_stack_probe_leave\n"
    "  addl $4, %esp\n"
    "  movl %eax, %ecx\n"
    "  popl %eax\n"
    "  jmp *%ecx\n");

#define VX_PROBE_ENTRY(name, index, bytes) \
    __asm__("  .globl _" #name "\n_" #name ":\n  movl $" #index ", %eax\n  jmp vx_stack_probe_common\n");
#include "stack_probe_entries.h"
#undef VX_PROBE_ENTRY

/* Loads the library the calls are forwarded to; 1 when it has every entry point. */
int stack_probe_forward_to(const char* library_path) {
    HMODULE library = LoadLibraryA(library_path);
    for (uint32_t i = 0; i < kEntryCount; ++i) {
        targets[i] = library == NULL ? NULL : GetProcAddress(library, kEntries[i].name);
        if (targets[i] == NULL) return 0;
    }
    return 1;
}

/* Answers the faults since the last take, adds the calls and the calls
 * repeated from one return address to the two counts, and starts afresh. */
uint32_t stack_probe_take(uint32_t* call_count, uint32_t* same_site_count) {
    const uint32_t taken = faults;
    *call_count += calls;
    *same_site_count += same_site_pairs;
    calls = same_site_pairs = faults = 0;
    current_return_address = 0;
    return taken;
}
