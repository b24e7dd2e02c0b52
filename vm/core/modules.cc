// The binding table: every module object, where it lies, its access word and its methods, in
// the order of installation and of definition. A native that is not built yet stays null, and
// its module is then left out whole; a module joins by writing vm/modules/<name>.cc and putting
// its natives in its row.
#include "modules.h"

#include <string.h>

#include "button.h"
#include "data_resource.h"
#include "descriptor.h"
#include "http.h"
#include "led.h"
#include "rfid.h"

namespace {

constexpr v8::FunctionCallback kNotBuilt = nullptr;

}  // namespace

const std::vector<ModuleRow>& moduleTable() {
  static const std::vector<ModuleRow> kTable = {
      {"led", ModuleHost::Tobrel, "led",
       {{"light", LedFunctionLight}, {"fade", LedFunctionFade}, {"pulse", LedFunctionPulse}}},
      {"ears", ModuleHost::Tobrel, "ears",
       {{"move", kNotBuilt},
        {"moveRelative", kNotBuilt},
        {"reset", kNotBuilt},
        {"resetRight", kNotBuilt},
        {"resetLeft", kNotBuilt},
        {"addListener", kNotBuilt}}},
      {"tts", ModuleHost::Tobrel, "tts", {{"start", kNotBuilt}, {"stop", kNotBuilt}}},
      {"webcam", ModuleHost::Tobrel, "webcam", {{"photo", kNotBuilt}}},
      {"asr", ModuleHost::Tobrel, "asr", {{"file", kNotBuilt}, {"string", kNotBuilt}}},
      {"multimedia", ModuleHost::Tobrel, "multimedia",
       {{"play", kNotBuilt},
        {"pause", kNotBuilt},
        {"resume", kNotBuilt},
        {"stop", kNotBuilt},
        {"next", kNotBuilt},
        {"previous", kNotBuilt},
        {"artist", kNotBuilt},
        {"folder", kNotBuilt},
        {"genre", kNotBuilt},
        {"playlist", kNotBuilt},
        {"song", kNotBuilt},
        {"addListener", kNotBuilt},
        {"record", kNotBuilt}}},
      {"button", ModuleHost::Tobrel, "button", {{"addListener", ButtonFunctionAddListener}}},
      {"rfid", ModuleHost::Tobrel, "rfid", {{"addListener", RfidFunctionAddListener}}},
      {"t2t", ModuleHost::Tobrel, "t2t",
       {{"call", kNotBuilt},
        {"answer", kNotBuilt},
        {"hangup", kNotBuilt},
        {"account", kNotBuilt},
        {"addListener", kNotBuilt}}},
      {"message", ModuleHost::Tobrel, "message",
       {{"list", kNotBuilt},
        {"get", kNotBuilt},
        {"delete", kNotBuilt},
        {"new", kNotBuilt},
        {"markAsRead", kNotBuilt}}},
      {"contact", ModuleHost::Tobrel, "contact", {{"get", kNotBuilt}}},
      {"serial", ModuleHost::Tobrel, "serial",
       {{"open__", kNotBuilt}, {"write__", kNotBuilt}, {"addListener__", kNotBuilt}}},
      {"dock", ModuleHost::Tobrel, "dock",
       {{"light", kNotBuilt}, {"fade", kNotBuilt}, {"pulse", kNotBuilt}, {"move", kNotBuilt}}},
      {"social", ModuleHost::Global, nullptr, {{"init", kNotBuilt}}},
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
