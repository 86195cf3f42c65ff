// The measured stdcall call of stdcall_check.h, in i386 assembly: only there
// is the stack pointer around the call under our control.
#include "host/mvwinhost/stdcall_check.h"

#if !defined(__i386__)
#error "the test host checks the 32-bit Windows calling convention"
#endif

// cdecl: 8(%ebp) fn, 12(%ebp) args, 16(%ebp) count, 20(%ebp) stackDelta.
// %edi holds the stack pointer from before the pushes; it is callee-saved in
// both conventions, so a correct callee leaves it alone.
asm(R"(
    .text
    .globl _CallStdcallChecked
    .def _CallStdcallChecked; .scl 2; .type 32; .endef
_CallStdcallChecked:
    pushl %ebp
    movl  %esp, %ebp
    pushl %ebx
    pushl %esi
    pushl %edi
    movl  12(%ebp), %esi
    movl  16(%ebp), %ecx
    movl  %esp, %edi
1:  testl %ecx, %ecx
    jz    2f
    decl  %ecx
    pushl (%esi,%ecx,4)
    jmp   1b
2:  call  *8(%ebp)
    movl  %esp, %ecx
    subl  %edi, %ecx
    movl  20(%ebp), %edx
    movl  %ecx, (%edx)
    movl  %edi, %esp
    popl  %edi
    popl  %esi
    popl  %ebx
    popl  %ebp
    ret
)");
