/* The back door of the stack-recording PassThru library (stack_probe_vci.c). */
#pragma once

#include <stdint.h>

typedef struct StackProbeRecord {
    uint32_t index;          /* the entry point, as stack_probe_entry numbers it */
    uint32_t return_address; /* where in the caller the call came from */
    uint32_t entry_esp;      /* ESP on entry: the address of the return address */
    uint32_t return_esp;     /* ESP after the forwarded call returned */
} StackProbeRecord;

/* Loads the library the calls are forwarded to; 1 when it has every entry point. */
typedef int (*StackProbeForwardTo)(const char* library_path);
/* Copies up to capacity records of the calls since the last take, oldest
 * first, forgets them and answers how many calls there were. */
typedef uint32_t (*StackProbeTake)(StackProbeRecord* out, uint32_t capacity);
/* The name and argument bytes of entry point index; NULL past the last. */
typedef const char* (*StackProbeEntry)(uint32_t index, uint32_t* argument_bytes);
