// The one reader of whole files (scripts, parameters, data resources), and the script loading
// built on it. A file is opened without blocking and must be a regular file, so a pipe or a
// device in an app's folder is refused at once instead of holding up the app.
#ifndef TOBREL_VM_CORE_WHOLE_FILE_H
#define TOBREL_VM_CORE_WHOLE_FILE_H

#include <stddef.h>
#include <stdint.h>
#include <v8.h>

#include <memory>

class TobrelData;

struct WholeFile {
  std::unique_ptr<char[]> bytes;  // the content, then a NUL
  size_t size = 0;                // bytes read: fewer than stat said when the file shrank
};

// Reads the whole file at `path` into `out`. Returns 0, or the errno value of what failed: the
// file cannot be opened, examined or read; it is a folder (EISDIR) or not a regular file
// (EINVAL); it is longer than `maxSize` (EFBIG; ENOMEM for the default, which only a size
// that no size_t counts can pass); there is no memory for it (ENOMEM).
int readWholeFile(const char* path, WholeFile* out, size_t maxSize = SIZE_MAX - 1);

// The file's bytes and a NUL after them (new[]; the caller delete[]s). `length`, when given,
// receives the number of bytes read. Any failure readWholeFile reports ends the process with an
// ERROR log of the system's error text.
char* readFile(const char* path, size_t* length = nullptr);

// The whole named file of the app's folder as a script string. A missing or unreadable file
// ends the process (fatal log); empty only when the text is too long for a script string.
v8::MaybeLocal<v8::String> loadSource(TobrelData* data, const char* name);

#endif
