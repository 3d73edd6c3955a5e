// One VX_ListJ2534Devices call between two marker system calls, for strace:
// bench/discovery_strace.sh shows what the call itself asks of the system.
// A first call before the markers leaves out what happens once per process
// (the heap's first growth, the registry stand-in's construction).
#include <sys/syscall.h>
#include <unistd.h>

#include <cstdio>

#include "VXArvessaDiagCore.h"

int main() {
    static char result[4096];
    VX_ListJ2534Devices(result, static_cast<int>(sizeof result));
    syscall(SYS_getpid);
    const int length = VX_ListJ2534Devices(result, static_cast<int>(sizeof result));
    syscall(SYS_getpid);
    std::printf("%d %s\n", length, result);
    return 0;
}
