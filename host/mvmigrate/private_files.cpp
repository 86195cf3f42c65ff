// Keeping what the host writes to its owner, and refusing secrets that
// others can already read.
#include "host/mvmigrate/private_files.h"

#include <sys/stat.h>

#include <cerrno>
#include <cstring>

#include "host/mvmigrate/host_setup.h"
#include "platform/bounded_text.h"

void MakeCreatedFilesPrivate() { umask(077); }

int CheckSecretFile(const std::string &path, const char *what, std::string *error) {
  struct stat st;
  if (stat(path.c_str(), &st) != 0) {
    *error = std::string("cannot open ") + what + " " + path + ": " + strerror(errno);
    return kExitNoInput;
  }
  if ((st.st_mode & 077) != 0) {
    char mode[8];
    FormatText(mode, sizeof mode, "%04o", static_cast<unsigned>(st.st_mode & 07777));
    *error = std::string("permissions ") + mode + " for " + what + " " + path +
             " are too open: group or others have access to it; make it owner-only (chmod 600 " + path + ")";
    return kExitConfig;
  }
  return kExitOk;
}
