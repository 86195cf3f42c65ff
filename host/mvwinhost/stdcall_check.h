// Calls a function in the convention where the callee removes its arguments
// (stdcall) and measures whether it removed exactly as many as it was given,
// so that a wrong argument count or calling convention in an export shows up
// as a number instead of a stack that is quietly put right by a frame pointer.
#pragma once

#include <cstdint>

extern "C" {

// Pushes args[0..count-1] (args[0] last, so it is the first argument), calls
// fn and returns its result. *stackDelta gets the stack pointer after the call
// less its value before the pushes: 0 when the callee removed exactly
// count * 4 bytes, -count * 4 when it removed none (cdecl), positive when it
// removed more than it was given. The stack is put right in every case, so
// the caller survives a wrong callee.
int32_t CallStdcallChecked(const void *fn, const uint32_t *args, int32_t count,
                           int32_t *stackDelta);

}  // extern "C"
