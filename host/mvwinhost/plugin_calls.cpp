// Loading MVGWS.dll by name and calling its entry points as the real host
// does, with the stack pointer measured around every call.
#include "host/mvwinhost/plugin_calls.h"

#include <windows.h>

#include <cstdarg>
#include <cstdio>

#include "host/mvwinhost/stdcall_check.h"

namespace {

struct ExportEntry {
  const char *name;
  int argCount;  // the host passes exactly these
  const void *function;
};

ExportEntry gExports[kExportCount] = {
    {"GetLogonParameters", 15, nullptr}, {"Logon", 17, nullptr},
    {"Logoff", 1, nullptr},              {"GetFolderNames", 2, nullptr},
    {"GetTrueFolder", 2, nullptr},       {"GetUserList", 2, nullptr},
    {"InitRead", 6, nullptr},            {"ConvertFolder", 14, nullptr},
    {"CloseRead", 1, nullptr},           {"InitWrite", 4, nullptr},
    {"WriteMsg", 4, nullptr},            {"CloseWrite", 1, nullptr},
    {"TestFile", 2, nullptr},
};

int gChecks = 0;
int gFailures = 0;

}  // namespace

bool Check(bool ok, const char *format, ...) {
  ++gChecks;
  if (ok) return true;
  ++gFailures;
  va_list ap;
  va_start(ap, format);
  fputs("mvwinhost: FAIL: ", stdout);
  vprintf(format, ap);
  fputc('\n', stdout);
  va_end(ap);
  fflush(stdout);
  return false;
}

int CheckCount() { return gChecks; }
int FailureCount() { return gFailures; }

int LoadPlugin(const char *dllPath) {
  HMODULE module = LoadLibraryA(dllPath);
  if (!Check(module != nullptr, "LoadLibrary(%s) failed with error %lu", dllPath,
             static_cast<unsigned long>(GetLastError())))
    return -1;
  int missing = 0;
  for (ExportEntry &entry : gExports) {
    entry.function = reinterpret_cast<const void *>(GetProcAddress(module, entry.name));
    if (!Check(entry.function != nullptr, "%s exports no entry point %s", dllPath, entry.name))
      ++missing;
  }
  return missing == 0 ? 0 : -1;
}

int32_t CallExport(int which, const uint32_t *args, int count) {
  const ExportEntry &entry = gExports[which];
  if (!Check(count == entry.argCount, "%s called with %d arguments, the host passes %d",
             entry.name, count, entry.argCount))
    return -1;
  int32_t stackDelta = 0;
  int32_t result = CallStdcallChecked(entry.function, args, count, &stackDelta);
  Check(stackDelta == 0,
        "%s left the stack pointer %d bytes off: it does not remove its %d arguments as "
        "stdcall (%d bytes)",
        entry.name, static_cast<int>(stackDelta), entry.argCount, entry.argCount * 4);
  return result;
}
