// What every fuzz target may need, with no script engine: quiet logging, the split of an
// input into name and value pairs, and an input waiting on a socket.
#ifndef TOBREL_FUZZ_SUPPORT_FUZZ_COMMON_H
#define TOBREL_FUZZ_SUPPORT_FUZZ_COMMON_H

#include <stddef.h>
#include <stdint.h>

#include <string>
#include <vector>

namespace tobrel_fuzz {

// Drops the log lines of GLib below ERROR, of the protobuf library and of libxml2, so millions
// of inputs do not flood the terminal; g_error and g_critical still end the run, which the
// fuzzer reports as a crash (with the line, on standard error).
void quietLogs();

// The input cut at each `separator` byte into names and values, alternately; an odd count gets
// an empty last value.
std::vector<std::string> separatedPairs(const uint8_t* data, size_t size, uint8_t separator);
// separatedPairs at each zero byte.
std::vector<std::string> zeroSeparatedPairs(const uint8_t* data, size_t size);

// A connected socket pair whose pair[0] has the whole input waiting to be read (written into
// pair[1]). False, with nothing opened, for an input too large for the socket's buffer, which
// would block the write.
bool socketWithInput(const uint8_t* data, size_t size, int pair[2]);

}  // namespace tobrel_fuzz

#endif
