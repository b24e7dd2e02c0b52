// Text utilities shared by TobrelVM and devicebus: one source compiled into both.
// devicebus builds it with TOBREL_UTILS_FOR_DEVICEBUS, which makes generateUuid return a
// gboolean and exports both functions from the shared library.
#ifndef TOBREL_VM_CORE_UTILS_H
#define TOBREL_VM_CORE_UTILS_H

#ifdef TOBREL_UTILS_FOR_DEVICEBUS
#include <glib.h>
#define TOBREL_UTILS_API __attribute__((visibility("default")))
#define TOBREL_UUID_RESULT gboolean
#else
#define TOBREL_UTILS_API
#define TOBREL_UUID_RESULT void
#endif

#ifdef __cplusplus
extern "C" {
#endif

// Lower-cases a NUL-terminated text in place.
TOBREL_UTILS_API void toLower(char* text);

// Writes a fresh UUID as 36 lowercase characters and a NUL into `buf` (37 bytes).
TOBREL_UTILS_API TOBREL_UUID_RESULT generateUuid(char* buf);

#ifndef TOBREL_UTILS_FOR_DEVICEBUS
// The one rule for a script-supplied path inside the app's folder: 1 when it is refused (it
// names the access list, holds "..", or any byte outside letters, digits, "_-/."), else 0.
// It logs nothing; each caller reports a refusal in its own words.
int isForbiddenPath(const char* path);
#endif

#ifdef __cplusplus
}
#endif

#endif
