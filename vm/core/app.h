// The body of an app child: its main loop, its script context and its main.js.
#ifndef TOBREL_VM_CORE_APP_H
#define TOBREL_VM_CORE_APP_H

#include <glib.h>
#include <v8.h>

#include "tobrel_data.h"  // TobrelData, and appFilePath for the app's files
#include "whole_file.h"   // readFile and loadSource, the app's script files

// Runs one app in the current (child) process until its main loop ends; returns the child's
// exit status (0 after exit(), 255 when it never became interactive, 1 when its heap ran out).
int runChild(void* unused, TobrelData* data);

// Builds the app's context from its folder, runs main.js once and releases the context handle.
void startApp(TobrelData* data);

// The global object's template: log, exit, setTimeout, ping and one internal field.
v8::Local<v8::ObjectTemplate> createGlobalTemplate(v8::Isolate* isolate);

// The device link's natives on the `tobrel` template, in their order: connect, start, stop.
void setLinkFunctions(v8::Isolate* isolate, v8::Local<v8::ObjectTemplate> tobrel);

// The one-shot check armed 10000 ms after start-up: ends an app that is still not interactive.
gboolean autokillNotInteractive(gpointer data);

#endif
