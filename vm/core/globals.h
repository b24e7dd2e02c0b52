// The global script functions every app has: log, exit, setTimeout, include, timestamp, uuid.
#ifndef TOBREL_VM_CORE_GLOBALS_H
#define TOBREL_VM_CORE_GLOBALS_H

#include <glib.h>
#include <v8.h>

void LogFunction(const v8::FunctionCallbackInfo<v8::Value>& args);
void ExitFunction(const v8::FunctionCallbackInfo<v8::Value>& args);
void TimestampFunction(const v8::FunctionCallbackInfo<v8::Value>& args);
void UuidFunction(const v8::FunctionCallbackInfo<v8::Value>& args);
void SetTimeoutFunction(const v8::FunctionCallbackInfo<v8::Value>& args);
void IncludeFunction(const v8::FunctionCallbackInfo<v8::Value>& args);

// GLib timeout callback of every script timer; its data is the timer's record.
gboolean timeoutCallback(gpointer record);

#endif
