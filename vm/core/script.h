// Helpers every native and every caller of a script function uses: finding the app's
// TobrelData, throwing the bare-string exceptions, reporting caught exceptions in the log,
// the one guarded call of a script function, and the two string conversions.
#ifndef TOBREL_VM_CORE_SCRIPT_H
#define TOBREL_VM_CORE_SCRIPT_H

#include <v8.h>

#include <string>

class TobrelData;

// The app's TobrelData: the pointer in internal field 0 of the global object of the context
// that is current during the call (the app's context, where all its functions were made).
TobrelData* appData(v8::Isolate* isolate);
TobrelData* appData(v8::Local<v8::Context> context);

// Throws the text itself as the exception value: a script's catch receives the string.
void throwText(v8::Isolate* isolate, const char* text);

// A string for the script from native text, read as UTF-8 up to its first NUL.
v8::Local<v8::String> newString(v8::Isolate* isolate, const char* utf8);

// Assigns `key` on `object` in the current context (an assignment: script setters run).
void setProperty(v8::Isolate* isolate, v8::Local<v8::Object> object, const char* key, v8::Local<v8::Value> value);

// setProperty with a string made by newString: native text read as UTF-8 up to its first NUL.
void setText(v8::Isolate* isolate, v8::Local<v8::Object> object, const char* key, const std::string& text);

// The text of a UTF-8 conversion, or "<string conversion failed>" when it gave none.
const char* toCString(const v8::String::Utf8Value& value);

// Logs a caught exception at WARNING: "file:line: text", the source line, the caret line and,
// when there is one, the stack trace. A caught exception without a message is fatal here
// (ERROR, which aborts), as app start-up requires. Nothing is logged for a terminated script.
void reportException(v8::Isolate* isolate, v8::TryCatch* tryCatch);

// The same report for exceptions met in main-loop callbacks: never aborts; an exception without
// a message is logged as one WARNING line with its text.
void reportExceptionWarning(v8::Isolate* isolate, v8::TryCatch* tryCatch);

// The caret line under a source line: a space per column before `start`, then '^' up to
// `end`, cut at 1023 characters. A negative start or an end before the start gives no carets.
std::string caretLine(int start, int end);

// True once the app whose TobrelData `context` holds in its global's internal field 0 has
// ended (endApp); false for a context without that field.
bool appEnding(v8::Local<v8::Context> context);

// Calls `fn` with itself as the receiver, in its own creation context, inside a TryCatch.
// An exception is reported with reportExceptionWarning and counts as "not true". Returns true
// only when the function returned the boolean true. Every timer, listener and reply handler
// calls script functions through this; once the function's app has ended it is not called and
// the result is false, so nothing of an ending app runs again.
bool callScriptFunction(v8::Isolate* isolate, v8::Local<v8::Function> fn, int argc = 0,
                        v8::Local<v8::Value>* argv = nullptr);

// The engine's ASCII form (one byte per character: the low 8 bits of each UTF-16 unit) of
// value's string conversion. Returns false when the conversion threw (the exception stays
// pending, so the native should return at once and send nothing).
bool asciiValue(v8::Isolate* isolate, v8::Local<v8::Value> value, std::string* out);

// The UTF-8 form of value's string conversion, each lone surrogate replaced by U+FFFD; false
// when the conversion failed (exception pending).
bool utf8Value(v8::Isolate* isolate, v8::Local<v8::Value> value, std::string* out);

// The names of `object`'s enumerable properties as a for-in loop visits them (inherited ones
// included, symbols left out), each one a string: the engine lists index names ("0", "7") as
// numbers otherwise. False when the listing threw (exception pending).
bool enumerableNames(v8::Isolate* isolate, v8::Local<v8::Object> object, v8::Local<v8::Array>* names);

// The one "access denied" check of a path that a script names inside its app's folder: true
// when isForbiddenPath (utils.h) accepts `name`, the converted form of `arg` that will name the
// file. Otherwise logs WARNING "access denied: %s" with `name`, throws "access denied: "
// followed by the argument's own text, and returns false.
bool appPathAllowed(v8::Isolate* isolate, v8::Local<v8::Value> arg, const std::string& name);

// appPathAllowed on the ASCII form of `arg`, which it puts in `name`; false too when the
// conversion threw.
bool checkAppPath(v8::Isolate* isolate, v8::Local<v8::Value> arg, std::string* name);

#endif
