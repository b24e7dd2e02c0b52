// Whole-file reads: open without blocking, look at what was opened, then one buffer of the size
// it has and reads until that much is in or the file ends.
#include "whole_file.h"

#include <errno.h>
#include <fcntl.h>
#include <glib.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

#include <new>
#include <string>

#include "tobrel_data.h"

namespace {

// Closes `fd` and gives back `error`, whatever close says.
int closeWith(int fd, int error) {
  close(fd);
  return error;
}

}  // namespace

int readWholeFile(const char* path, WholeFile* out, size_t maxSize) {
  // O_NONBLOCK: opening a pipe for reading would otherwise wait for a writer.
  const int fd = open(path, O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return errno;
  struct stat info;
  if (fstat(fd, &info) != 0) return closeWith(fd, errno);
  // A folder or a device has no content to hand over.
  if (!S_ISREG(info.st_mode)) return closeWith(fd, S_ISDIR(info.st_mode) ? EISDIR : EINVAL);
  // Sizes are compared before they become a size_t, which is 32 bits wide on a 32-bit CPU.
  // Past the default bound no size_t counts the file and its NUL: without a limit of the
  // caller's, that is the same failure as an allocation that is refused.
  if (static_cast<uintmax_t>(info.st_size) > maxSize) return closeWith(fd, maxSize >= SIZE_MAX - 1 ? ENOMEM : EFBIG);
  const size_t size = static_cast<size_t>(info.st_size);
  std::unique_ptr<char[]> bytes(new (std::nothrow) char[size + 1]);
  if (!bytes) return closeWith(fd, ENOMEM);
  size_t got = 0;
  while (got < size) {
    const ssize_t n = read(fd, bytes.get() + got, size - got);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return closeWith(fd, errno);
    if (n == 0) break;  // the file shrank meanwhile: only what is there
    got += static_cast<size_t>(n);
  }
  close(fd);
  bytes[got] = '\0';  // after what was read: no stale bytes past a shrunk file
  out->bytes = std::move(bytes);
  out->size = got;
  return 0;
}

char* readFile(const char* path, size_t* length) {
  WholeFile file;
  const int error = readWholeFile(path, &file);
  if (error != 0) g_error("%s", strerror(error));
  if (length != nullptr) *length = file.size;
  return file.bytes.release();
}

v8::MaybeLocal<v8::String> loadSource(TobrelData* data, const char* name) {
  const std::string path = appFilePath(*data, name);
  g_debug("loading source: %s", path.c_str());
  char* bytes = readFile(path.c_str());
  v8::MaybeLocal<v8::String> source = v8::String::NewFromUtf8(v8::Isolate::GetCurrent(), bytes);
  delete[] bytes;
  return source;
}
