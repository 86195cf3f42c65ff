// Loading the plug-in with dlopen and resolving its entry points by name.
#include "host/mvmigrate/plugin_loader.h"

#include <dlfcn.h>
#include <unistd.h>

#include <climits>


std::string DefaultPluginPath() {
  char exe[PATH_MAX];
  ssize_t n = readlink("/proc/self/exe", exe, sizeof exe - 1);
  if (n <= 0) return "libMVGWS.so";
  exe[n] = '\0';
  std::string dir(exe);
  size_t slash = dir.rfind('/');
  dir = slash == std::string::npos ? "." : dir.substr(0, slash);
  return dir + "/libMVGWS.so";
}

int LoadPlugin(const std::string &path, const std::vector<std::string> &required, PluginApi *api,
               std::string *error) {
  *api = PluginApi();
  void *handle = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (handle == nullptr) {
    const char *why = dlerror();
    *error = "cannot load plug-in " + path + ": " + (why ? why : "unknown error");
    return -1;
  }
  api->handle = handle;
  struct {
    const char *name;
    void **target;
  } entries[] = {
      {"GetLogonParameters", reinterpret_cast<void **>(&api->GetLogonParameters)},
      {"Logon", reinterpret_cast<void **>(&api->Logon)},
      {"Logoff", reinterpret_cast<void **>(&api->Logoff)},
      {"GetFolderNames", reinterpret_cast<void **>(&api->GetFolderNames)},
      {"GetTrueFolder", reinterpret_cast<void **>(&api->GetTrueFolder)},
      {"GetUserList", reinterpret_cast<void **>(&api->GetUserList)},
      {"InitRead", reinterpret_cast<void **>(&api->InitRead)},
      {"ConvertFolder", reinterpret_cast<void **>(&api->ConvertFolder)},
      {"CloseRead", reinterpret_cast<void **>(&api->CloseRead)},
      {"InitWrite", reinterpret_cast<void **>(&api->InitWrite)},
      {"WriteMsg", reinterpret_cast<void **>(&api->WriteMsg)},
      {"CloseWrite", reinterpret_cast<void **>(&api->CloseWrite)},
      {"TestFile", reinterpret_cast<void **>(&api->TestFile)},
  };
  for (auto &e : entries) *e.target = dlsym(handle, e.name);

  std::string missing;
  for (const std::string &name : required) {
    bool found = false;
    for (auto &e : entries)
      if (name == e.name) found = *e.target != nullptr;
    if (!found) missing += (missing.empty() ? "" : ", ") + name;
  }
  if (!missing.empty()) {
    *error = "plug-in " + path + " lacks the entry point(s): " + missing;
    UnloadPlugin(api);
    return -1;
  }
  return 0;
}

void UnloadPlugin(PluginApi *api) {
#if !defined(__SANITIZE_ADDRESS__)
  if (api->handle != nullptr) dlclose(api->handle);
#else
  // Under AddressSanitizer the plug-in stays loaded: the leak check at exit
  // still walks the thread-local blocks of the libraries it brought in, and
  // once they are unloaded it reads freed memory and fails the run.
#endif
  *api = PluginApi();
}

void AskLogonForm(const PluginApi &api) {
  if (api.GetLogonParameters == nullptr) return;
  char user[kHostLabelSize] = "", pass[kHostLabelSize] = "", server[kHostLabelSize] = "";
  char a7[kHostLabelSize] = "", a8[kHostLabelSize] = "", a13[kHostLabelSize] = "", a15[kHostLabelSize] = "";
  char serverText[kHostServerSize] = "";
  api.GetLogonParameters(1, nullptr, nullptr, user, pass, server, a7, a8, nullptr, nullptr, nullptr, serverText,
                         a13, nullptr, a15);
}
