/* The host side of the calling-convention check: a call through a __cdecl
 * pointer made by hand in assembly, so no compiler-generated frame (and no
 * frame pointer restoring ESP) can hide what the callee did to the stack.
 * The thunk pushes the arguments, loads fixed values into the callee-saved
 * registers (EBX, ESI, EDI, EBP), calls, then notes ESP and those registers
 * before it puts its own frame back from a saved copy. */
#include "cdecl_call.h"

#if !defined(__i386__)
#  error "the 32-bit calling-convention check is for i686 only"
#endif

/* int vx_cdecl_call(const void* function, const uint32_t* args, uint32_t count,
 *                   CdeclCallCheck* check) */
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
    "1:\n"
    "  testl %ecx, %ecx\n"
    "  jz 2f\n"
    "  pushl -4(%edx,%ecx,4)\n"        /* the last argument first */
    "  decl %ecx\n"
    "  jmp 1b\n"
    "2:\n"
    "  movl $0x5EB00001, %ebx\n"
    "  movl $0x5EB00002, %esi\n"
    "  movl $0x5EB00003, %edi\n"
    "  movl $0x5EB00004, %ebp\n"
    "  movl %esp, vx_before_call\n"
    "  call *%eax\n"
    "  movl %esp, vx_after_call\n"
    "  xorl %ecx, %ecx\n"
    "  cmpl $0x5EB00001, %ebx\n"
    "  je 3f\n"
    "  orl $1, %ecx\n"
    "3:\n"
    "  cmpl $0x5EB00002, %esi\n"
    "  je 4f\n"
    "  orl $2, %ecx\n"
    "4:\n"
    "  cmpl $0x5EB00003, %edi\n"
    "  je 5f\n"
    "  orl $4, %ecx\n"
    "5:\n"
    "  cmpl $0x5EB00004, %ebp\n"
    "  je 6f\n"
    "  orl $8, %ecx\n"
    "6:\n"
    "  movl vx_frame_esp, %esp\n"
    "  movl 32(%esp), %edx\n"          /* check */
    "  movl %ecx, 4(%edx)\n"
    "  movl vx_after_call, %ecx\n"
    "  subl vx_before_call, %ecx\n"
    "  movl %ecx, (%edx)\n"
    "  popl %edi\n"
    "  popl %esi\n"
    "  popl %ebx\n"
    "  popl %ebp\n"
    "  ret\n"
    "  .lcomm vx_frame_esp, 4\n"
    "  .lcomm vx_before_call, 4\n"
    "  .lcomm vx_after_call, 4\n");
