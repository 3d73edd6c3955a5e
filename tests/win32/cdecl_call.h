/* A call through a __cdecl pointer that reports what the callee did to the
 * stack pointer and to the callee-saved registers (i686 only). */
#pragma once

#include <stdint.h>

typedef struct CdeclCallCheck {
    int32_t esp_delta;  /* ESP after the call minus ESP before it: 0 for cdecl */
    uint32_t clobbered; /* callee-saved registers changed: 1 EBX, 2 ESI, 4 EDI, 8 EBP */
} CdeclCallCheck;

/* Calls function(args[0], ..., args[count - 1]) and returns its EAX. */
int vx_cdecl_call(const void* function, const uint32_t* args, uint32_t count, CdeclCallCheck* check);
