// Loading libMVGWS.so with dlopen and resolving its entry points by name.
#pragma once

#include <string>
#include <vector>

#include "plugin/mv_api.h"

// The plug-in's entry points as the host calls them.
struct PluginApi {
  void *handle = nullptr;
  decltype(&::GetLogonParameters) GetLogonParameters = nullptr;
  decltype(&::Logon) Logon = nullptr;
  decltype(&::Logoff) Logoff = nullptr;
  decltype(&::GetFolderNames) GetFolderNames = nullptr;
  decltype(&::GetTrueFolder) GetTrueFolder = nullptr;
  decltype(&::GetUserList) GetUserList = nullptr;
  decltype(&::InitRead) InitRead = nullptr;
  decltype(&::ConvertFolder) ConvertFolder = nullptr;
  decltype(&::CloseRead) CloseRead = nullptr;
  decltype(&::InitWrite) InitWrite = nullptr;
  decltype(&::WriteMsg) WriteMsg = nullptr;
  decltype(&::CloseWrite) CloseWrite = nullptr;
  decltype(&::TestFile) TestFile = nullptr;
};

// The plug-in path used when none is given: libMVGWS.so in the directory of
// the running executable.
std::string DefaultPluginPath();

// Opens the library at path and resolves every entry point it has. Then
// checks that each name in `required` was found. Returns 0 on success; on
// failure returns -1, closes the library, and sets *error to a message that
// names the library and every missing entry point.
int LoadPlugin(const std::string &path, const std::vector<std::string> &required, PluginApi *api,
               std::string *error);

// Asks the plug-in for its logon form, as every host does before Logon: the
// plug-in reads the switches then, so that those about the logon line
// (/HPW) already hold for it. Does nothing when the entry point is absent.
void AskLogonForm(const PluginApi &api);

// dlclose; the api is emptied.
void UnloadPlugin(PluginApi *api);
