// Ends the connections of a stopping server by looking through this
// process's open descriptors for sockets bound to the server's port.
#include "gwsim/connection_closer.h"

#include <arpa/inet.h>
#include <dirent.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include <cstdlib>

namespace gwsim {
namespace {

bool IsServedConnection(int fd, int port) {
  sockaddr_storage local;
  socklen_t length = sizeof(local);
  if (getsockname(fd, reinterpret_cast<sockaddr *>(&local), &length) != 0) return false;
  int localPort = -1;
  if (local.ss_family == AF_INET) {
    localPort = ntohs(reinterpret_cast<sockaddr_in *>(&local)->sin_port);
  } else if (local.ss_family == AF_INET6) {
    localPort = ntohs(reinterpret_cast<sockaddr_in6 *>(&local)->sin6_port);
  }
  if (localPort != port) return false;
  int listening = 0;
  socklen_t optionLength = sizeof(listening);
  if (getsockopt(fd, SOL_SOCKET, SO_ACCEPTCONN, &listening, &optionLength) != 0) return false;
  return listening == 0;
}

}  // namespace

int ShutDownServedConnections(int port) {
  DIR *fds = opendir("/proc/self/fd");
  if (fds == nullptr) return 0;
  int count = 0;
  while (dirent *entry = readdir(fds)) {
    char *end = nullptr;
    long fd = strtol(entry->d_name, &end, 10);
    if (end == entry->d_name || *end != '\0' || fd == dirfd(fds)) continue;
    if (IsServedConnection(static_cast<int>(fd), port)) {
      shutdown(static_cast<int>(fd), SHUT_RDWR);
      ++count;
    }
  }
  closedir(fds);
  return count;
}

}  // namespace gwsim
