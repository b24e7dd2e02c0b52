// toLower and generateUuid: the form of every message id, interactive id and script UUID.
#include "utils.h"

#include <ctype.h>
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

}  // extern "C"
