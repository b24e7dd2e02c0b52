// The binding table: every module object, where it lies, its access word and its methods, in
// the order of installation and of definition. Every row names all of its natives; the gate
// still installs nothing of a row that lacks one, so no module object is ever half-built.
#include "modules.h"

#include <string.h>

#include "asr.h"
#include "button.h"
#include "contact.h"
#include "data_resource.h"
#include "descriptor.h"
#include "dock.h"
#include "ears.h"
#include "http.h"
#include "led.h"
#include "message.h"
#include "multimedia.h"
#include "rfid.h"
#include "serial.h"
#include "social.h"
#include "t2t.h"
#include "tts.h"
#include "webcam.h"

const std::vector<ModuleRow>& moduleTable() {
  static const std::vector<ModuleRow> kTable = {
      {"led", ModuleHost::Tobrel, "led",
       {{"light", LedFunctionLight}, {"fade", LedFunctionFade}, {"pulse", LedFunctionPulse}}},
      {"ears", ModuleHost::Tobrel, "ears",
       {{"move", EarsFunctionMove},
        {"moveRelative", EarsFunctionMoveRelative},
        {"reset", EarsFunctionReset},
        {"resetRight", EarsFunctionResetRight},
        {"resetLeft", EarsFunctionResetLeft},
        {"addListener", EarsFunctionAddListener}}},
      {"tts", ModuleHost::Tobrel, "tts", {{"start", TtsFunctionStart}, {"stop", TtsFunctionStop}}},
      {"webcam", ModuleHost::Tobrel, "webcam", {{"photo", WebcamFunctionPhoto}}},
      {"asr", ModuleHost::Tobrel, "asr", {{"file", AsrFunctionFile}, {"string", AsrFunctionString}}},
      {"multimedia", ModuleHost::Tobrel, "multimedia",
       {{"play", MutimediaPlay},
        {"pause", MutimediaPause},
        {"resume", MultimediaResume},
        {"stop", MutimediaStop},
        {"next", MultimediaNext},
        {"previous", MultimediaPrevious},
        {"artist", MultimediaFunctionArtist},
        {"folder", MultimediaFunctionFolder},
        {"genre", MultimediaFunctionGenre},
        {"playlist", MultimediaFunctionPlaylist},
        {"song", MultimediaFunctionSong},
        {"addListener", MultimediaFunctionAddListener},
        {"record", MutimediaRecord}}},
      {"button", ModuleHost::Tobrel, "button", {{"addListener", ButtonFunctionAddListener}}},
      {"rfid", ModuleHost::Tobrel, "rfid", {{"addListener", RfidFunctionAddListener}}},
      {"t2t", ModuleHost::Tobrel, "t2t",
       {{"call", T2tFunctionCall},
        {"answer", T2tFunctionAnswer},
        {"hangup", T2tFunctionHangup},
        {"account", T2tFunctionAccount},
        {"addListener", T2tFunctionAddListener}}},
      {"message", ModuleHost::Tobrel, "message",
       {{"list", MessageFunctionList},
        {"get", MessageFunctionGet},
        {"delete", MessageFunctionDelete},
        {"new", MessageFunctionNew},
        {"markAsRead", MessageFunctionMarkAsRead}}},
      {"contact", ModuleHost::Tobrel, "contact", {{"get", ContactFunctionGet}}},
      {"serial", ModuleHost::Tobrel, "serial",
       {{"open__", SerialFunctionOpen}, {"write__", SerialFunctionWrite}, {"addListener__", SerialFunctionAddListener}}},
      {"dock", ModuleHost::Tobrel, "dock",
       {{"light", DockFunctionLight}, {"fade", DockFunctionFade}, {"pulse", DockFunctionPulse},
        {"move", DockFunctionMove}}},
      {"social", ModuleHost::Global, nullptr, {{"init", SocialFunctionInit}}},
      {"http", ModuleHost::Global, "http",
       {{"get", HttpFunctionGet}, {"post", HttpFunctionPost}, {"get2", HttpFunctionGet2}, {"post2", HttpFunctionPost2}}},
      {"file", ModuleHost::StartUp, nullptr, {{"read", FileFunctionRead}, {"write", FileFunctionWrite}}},
  };
  return kTable;
}

const ModuleRow* findModule(const char* name) {
  for (const ModuleRow& row : moduleTable())
    if (strcmp(row.name, name) == 0) return &row;
  return nullptr;
}

v8::Local<v8::ObjectTemplate> createFileTemplate(v8::Isolate* isolate) {
  return createModuleTemplate(isolate, *findModule("file"));
}

bool moduleBuilt(const ModuleRow& row) {
  if (row.methods.empty()) return false;
  for (const ModuleMethod& method : row.methods)
    if (method.native == nullptr) return false;
  return true;
}

v8::Local<v8::ObjectTemplate> createModuleTemplate(v8::Isolate* isolate, const ModuleRow& row) {
  v8::Local<v8::ObjectTemplate> object = v8::ObjectTemplate::New(isolate);
  for (const ModuleMethod& method : row.methods)
    object->Set(isolate, method.name, v8::FunctionTemplate::New(isolate, method.native));
  return object;
}

void installModuleRows(const std::vector<ModuleRow>& rows, v8::Isolate* isolate,
                       v8::Local<v8::ObjectTemplate> globalTemplate,
                       v8::Local<v8::ObjectTemplate> tobrelTemplate, const Descriptor& descriptor) {
  for (const ModuleRow& row : rows) {
    if (row.host == ModuleHost::StartUp || !moduleBuilt(row)) continue;
    if (row.access != nullptr && !descriptor.hasAccess(row.access)) continue;
    v8::Local<v8::ObjectTemplate> host = row.host == ModuleHost::Tobrel ? tobrelTemplate : globalTemplate;
    host->Set(isolate, row.name, createModuleTemplate(isolate, row));
  }
}

void installModules(v8::Isolate* isolate, v8::Local<v8::ObjectTemplate> globalTemplate,
                    v8::Local<v8::ObjectTemplate> tobrelTemplate, const Descriptor& descriptor) {
  installModuleRows(moduleTable(), isolate, globalTemplate, tobrelTemplate, descriptor);
}
