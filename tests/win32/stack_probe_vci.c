/* A PassThru library that records the stack pointer around every J2534 call
 * and forwards the call, arguments untouched, to the simulated VCI.
 *
 * Each entry point is a few instructions of assembly: it notes ESP on entry
 * (pointing at the caller's return address), puts the landing below in place
 * of that return address and jumps to the simulated VCI's entry point. The
 * landing notes ESP again once the callee has returned and goes back to the
 * caller. A __stdcall callee pops its arguments, so ESP on return is ESP on
 * entry plus 4 plus the argument bytes. A caller that calls as __stdcall
 * expects exactly that; one that calls as cdecl believes ESP unchanged, so
 * its next call from the same place of the same frame comes with ESP higher
 * by the argument bytes: the host compares consecutive calls from one return
 * address. The entry points are generated from the simulated VCI's list
 * (stack_probe_entries.h): a new entry point needs no change here.
 *
 * One call at a time (the core serialises its device calls); records beyond
 * the capacity are counted but not kept. */
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <windows.h>

#include "stack_probe.h"

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
enum { kEntryCount = sizeof kEntries / sizeof kEntries[0], kCapacity = 4096 };

static HMODULE target_library;
static FARPROC targets[kEntryCount];
static StackProbeRecord records[kCapacity];
static uint32_t record_count;
static uint32_t pending_return_address;

/* Called by the entry thunk: notes the entry, swaps the return address for
 * the landing and answers the function to jump to. */
uint32_t vx_stack_probe_enter(uint32_t entry_esp, uint32_t index);
/* Called by the landing: notes ESP after the callee returned and answers the
 * caller's return address. */
uint32_t vx_stack_probe_leave(uint32_t return_esp);
extern char vx_stack_probe_landing[];

uint32_t vx_stack_probe_enter(uint32_t entry_esp, uint32_t index) {
    uint32_t* return_slot = (uint32_t*)(uintptr_t)entry_esp;
    if (index >= kEntryCount || targets[index] == NULL) {
        fprintf(stderr, "stack probe: %s called without a library to forward to\n",
                index < kEntryCount ? kEntries[index].name : "?");
        abort();
    }
    pending_return_address = *return_slot;
    /* Said at once: a caller whose stack is off may crash before the host
     * reads the records. */
    if (record_count > 0 && record_count <= kCapacity &&
        records[record_count - 1].return_address == *return_slot &&
        records[record_count - 1].entry_esp != entry_esp) {
        fprintf(stderr,
                "stack probe: %s called again from 0x%08lx with ESP 0x%08lx, before with 0x%08lx: the caller "
                "does not call it as __stdcall\n",
                kEntries[index].name, (unsigned long)*return_slot, (unsigned long)entry_esp,
                (unsigned long)records[record_count - 1].entry_esp);
        fflush(stderr);
    }
    if (record_count < kCapacity) {
        StackProbeRecord* record = &records[record_count];
        record->index = index;
        record->return_address = *return_slot;
        record->entry_esp = entry_esp;
        record->return_esp = 0;
    }
    *return_slot = (uint32_t)(uintptr_t)vx_stack_probe_landing;
    return (uint32_t)(uintptr_t)targets[index];
}

uint32_t vx_stack_probe_leave(uint32_t return_esp) {
    if (record_count < kCapacity) records[record_count].return_esp = return_esp;
    ++record_count;
    return pending_return_address;
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

int stack_probe_forward_to(const char* library_path) {
    target_library = LoadLibraryA(library_path);
    if (target_library == NULL) return 0;
    for (uint32_t i = 0; i < kEntryCount; ++i) {
        targets[i] = GetProcAddress(target_library, kEntries[i].name);
        if (targets[i] == NULL) return 0;
    }
    return 1;
}

uint32_t stack_probe_take(StackProbeRecord* out, uint32_t capacity) {
    const uint32_t total = record_count;
    const uint32_t kept = total < kCapacity ? total : kCapacity;
    memcpy(out, records, (kept < capacity ? kept : capacity) * sizeof *out);
    record_count = 0;
    return total;
}

const char* stack_probe_entry(uint32_t index, uint32_t* argument_bytes) {
    if (index >= kEntryCount) return NULL;
    *argument_bytes = kEntries[index].argument_bytes;
    return kEntries[index].name;
}
