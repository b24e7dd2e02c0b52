// enterPrivateDevLog: unshare, a private tmpfs /dev, and a socket bound at /dev/log.
#include "private_dev_log.h"

#include <errno.h>
#include <sched.h>
#include <string.h>
#include <sys/mount.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/un.h>

namespace tobrel_test {

bool enterPrivateDevLog(int socketFd, std::string* error) {
  auto fail = [error](const char* what) {
    *error = std::string("private /dev/log: ") + what + ": " + strerror(errno);
    return false;
  };
  if (unshare(CLONE_NEWNS) != 0) return fail("unshare");
  // Private first, or the tmpfs below would propagate to the machine's /dev.
  if (mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0) return fail("make / private");
  if (mount("tmpfs", "/dev", "tmpfs", MS_NOSUID | MS_NOEXEC, "mode=0755") != 0) return fail("mount /dev");
  struct Node {
    const char* path;
    unsigned major, minor;
  };
  const Node nodes[] = {{"/dev/null", 1, 3}, {"/dev/zero", 1, 5}, {"/dev/full", 1, 7},
                        {"/dev/random", 1, 8}, {"/dev/urandom", 1, 9}, {"/dev/tty", 5, 0}};
  for (const Node& node : nodes) {
    if (mknod(node.path, S_IFCHR | 0666, makedev(node.major, node.minor)) != 0) return fail(node.path);
  }
  struct sockaddr_un address;
  memset(&address, 0, sizeof address);
  address.sun_family = AF_UNIX;
  strcpy(address.sun_path, "/dev/log");
  if (bind(socketFd, reinterpret_cast<struct sockaddr*>(&address), sizeof address) != 0) return fail("bind /dev/log");
  chmod("/dev/log", 0666);
  return true;
}

}  // namespace tobrel_test
