// Gives the calling process (and what it starts) a /dev/log of its own: a private mount
// namespace, a tmpfs on /dev with the usual character devices, and `socketFd` (an unbound
// AF_UNIX datagram socket) bound at /dev/log. Whoever holds the socket reads the syslog
// datagrams. Needs root. Used by syslog_capture.cc and by the benchmarks.
#ifndef TOBREL_TESTS_SUPPORT_PRIVATE_DEV_LOG_H
#define TOBREL_TESTS_SUPPORT_PRIVATE_DEV_LOG_H

#include <string>

namespace tobrel_test {

bool enterPrivateDevLog(int socketFd, std::string* error);

}  // namespace tobrel_test

#endif
