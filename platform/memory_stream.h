// Stdio streams over bytes in memory, so that code written for a FILE*
// (fgets, getc, ftell, fseek) reads an answer kept in memory as it reads a
// file, and writes a request into memory as it would write a file.
#pragma once

#include <cstddef>
#include <cstdio>

// Called once when the stream is closed: the bytes may go from then on.
typedef void (*MemoryReaderRelease)(void *context);

// A stream that reads the length bytes at data from their start; data must
// stay unchanged until release(context) is called by fclose. Returns null
// (and calls nothing) where the C library has no such streams.
FILE *OpenMemoryReader(const char *data, size_t length, MemoryReaderRelease release,
                       void *context);

// 1 where OpenMemoryReader can give a stream, 0 where callers must keep
// their bytes in files (the Windows C library has no custom streams).
int MemoryReadersAvailable();

// A read-write stream that keeps what is written in memory until it passes
// limit bytes, then moves it into a new file at spillPath (a regular file
// there is replaced) and goes on in that file: a small request costs no
// file, a large one no more memory than limit. *spilled is set to 1 when
// the bytes move (and stays untouched if the file cannot be made: the write
// then fails). Returns null where the C library has no custom streams.
FILE *OpenSpillingStream(const char *spillPath, size_t limit, int *spilled);

// Offered the bytes of a keeping stream that stayed in memory when it is
// closed; returns non-zero when it took them, 0 to have them written to the
// stream's file instead.
typedef int (*KeepStreamBytes)(const char *path, const char *data, size_t size);

// A spilling stream whose bytes, when they never passed limit, are offered
// to keep(spillPath, data, size) at fclose instead of being dropped.
// Returns null where the C library has no custom streams.
FILE *OpenKeepingStream(const char *spillPath, size_t limit, KeepStreamBytes keep);
