// toLower and generateUuid: the form of every message id, interactive id and script UUID;
// isForbiddenPath: which relative paths a script may open in its own folder.
#include "utils.h"

#include <ctype.h>
#include <string.h>
#include <uuid/uuid.h>

extern "C" {

void toLower(char* text) {
  // tolower() takes an unsigned char value: bytes of 128 and above would be negative as char.
  for (; *text != '\0'; ++text) *text = static_cast<char>(tolower(static_cast<unsigned char>(*text)));
}

TOBREL_UUID_RESULT generateUuid(char* buf) {
  uuid_t uuid;
  uuid_generate(uuid);
  uuid_unparse(uuid, buf);
  toLower(buf);
#ifdef TOBREL_UTILS_FOR_DEVICEBUS
  return TRUE;
#endif
}

#ifndef TOBREL_UTILS_FOR_DEVICEBUS
int isForbiddenPath(const char* path) {
  if (strstr(path, "descriptor.xml") != nullptr) return 1;
  char previous = '\0';
  for (const char* p = path; *p != '\0'; previous = *p, ++p) {
    const unsigned char c = static_cast<unsigned char>(*p);
    // Tested by hand rather than with isalnum(): the locale must not widen the set.
    const bool accepted = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') ||
                          c == '_' || c == '-' || c == '/' || (c == '.' && previous != '.');
    if (!accepted) return 1;
  }
  return 0;
}
#endif

}  // extern "C"
