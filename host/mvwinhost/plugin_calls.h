// The test host's view of MVGWS.dll: loading it, finding the thirteen entry
// points by their plain names, calling them with a measured stdcall call, and
// the tally of failed checks that decides the exit code.
#pragma once

#include "platform/printf_format.h"

#include <cstdint>

enum ExportIndex {
  kGetLogonParameters,
  kLogon,
  kLogoff,
  kGetFolderNames,
  kGetTrueFolder,
  kGetUserList,
  kInitRead,
  kConvertFolder,
  kCloseRead,
  kInitWrite,
  kWriteMsg,
  kCloseWrite,
  kTestFile,
  kExportCount
};

// Loads the DLL and looks up every entry point. Returns 0, or -1 after
// reporting each name that is missing (nothing is called then).
int LoadPlugin(const char *dllPath);

// Calls entry point `which` with exactly the host's argument count (args
// holds count values; a count that differs from the host's is itself a
// failed check). A callee that leaves the stack pointer anywhere but where
// the convention says is reported as a failed check; the result is returned.
int32_t CallExport(int which, const uint32_t *args, int count);

template <typename T>
uint32_t Arg(T *pointer) {
  return static_cast<uint32_t>(reinterpret_cast<uintptr_t>(pointer));
}
inline uint32_t Arg(int value) { return static_cast<uint32_t>(value); }

// Records one check: prints "FAIL: ..." and counts it when ok is false.
// Returns ok.
bool Check(bool ok, const char *format, ...) MV_PRINTF_FORMAT(2, 3);

int CheckCount();
int FailureCount();
