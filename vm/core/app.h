// The body of an app child: its main loop, its script context and its main.js. Also the file
// helpers that read scripts from the app's folder.
#ifndef TOBREL_VM_CORE_APP_H
#define TOBREL_VM_CORE_APP_H

#include <glib.h>
#include <stddef.h>
#include <v8.h>

#include <string>

class TobrelData;

// Runs one app in the current (child) process until its main loop ends; returns the child's
// exit status (0 after exit(), 255 when it never became interactive, 1 when its heap ran out).
int runChild(void* unused, TobrelData* data);

// Builds the app's context from its folder, runs main.js once and releases the context handle.
void startApp(TobrelData* data);

// The global object's template: log, exit, setTimeout and one internal field.
v8::Local<v8::ObjectTemplate> createGlobalTemplate(v8::Isolate* isolate);

// "<appFolder>/<appName>/<name>", cut to 254 characters like every app path.
std::string appFilePath(const TobrelData& data, const char* name);

// The whole named file of the app's folder as a script string. A missing or unreadable file
// ends the process (fatal log); empty only when the text is too long for a script string.
v8::MaybeLocal<v8::String> loadSource(TobrelData* data, const char* name);

// The file's bytes and a NUL after them (new[]; the caller delete[]s). `length`, when given,
// receives the number of bytes read. A file that is missing, cannot be opened or read, or is
// not a regular file ends the process with an ERROR log of the system's error text.
char* readFile(const char* path, size_t* length = nullptr);

// The one-shot check armed 10000 ms after start-up: ends an app that is still not interactive.
gboolean autokillNotInteractive(gpointer data);

#endif
