// The `launchType` object: why the app was started (a plain name, an RFID tag's fields or a
// spoken command with its meaning), built from the second field of the launch request.
#ifndef TOBREL_VM_CORE_LAUNCH_TYPE_H
#define TOBREL_VM_CORE_LAUNCH_TYPE_H

#include <string>
#include <vector>

#include <v8.h>

// The fields of a launch type text, split at each ';'. A trailing ';' adds no field.
std::vector<std::string> splitLaunchType(const std::string& text);

// Fills `target` with the properties of the launch type: RFID, ASR or plain.
void createLaunchTypeTemplate(v8::Isolate* isolate, v8::Local<v8::ObjectTemplate> target,
                              const std::string& launchType);

// `launchType.semantic`: parses `rawSemantic` again, in a fresh context, at every read.
void semanticGetter(const v8::FunctionCallbackInfo<v8::Value>& info);
// Writes to `launchType.semantic` are ignored.
void semanticSetter(const v8::FunctionCallbackInfo<v8::Value>& info);

#endif
