// MV_PRINTF_FORMAT(f, a): the compiler's printf format check for a function
// whose argument f is the format and a the first value. MinGW's compiler
// takes plain "printf" as the old msvcrt dialect (no %zu, %lld); our Windows
// build uses the C99 printf family, so the check names that dialect there.
#pragma once

#if defined(__MINGW32__)
#define MV_PRINTF_FORMAT(f, a) __attribute__((format(gnu_printf, f, a)))
#else
#define MV_PRINTF_FORMAT(f, a) __attribute__((format(printf, f, a)))
#endif
