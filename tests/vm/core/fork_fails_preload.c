/* Preloaded into the launcher by a test: the first TOBREL_FAILING_FORKS calls of fork() fail
 * with EAGAIN, as when the process table is full, so the launcher's accounting can be seen. */
#define _GNU_SOURCE
#include <dlfcn.h>
#include <errno.h>
#include <stdlib.h>
#include <sys/types.h>

pid_t fork(void) {
  static int failed = 0;
  const char* wanted = getenv("TOBREL_FAILING_FORKS");
  if (wanted != NULL && failed < atoi(wanted)) {
    ++failed;
    errno = EAGAIN;
    return -1;
  }
  pid_t (*real)(void) = (pid_t(*)(void))dlsym(RTLD_NEXT, "fork");
  return real();
}
