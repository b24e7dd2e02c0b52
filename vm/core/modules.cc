// The binding table: every module object, where it lies and its access word, in the order of
// installation. A row's maker stays null until its module's natives exist; a module joins by
// writing vm/modules/<name>.cc (its natives and a create...Template of setMethod lines, in the
// module's method order) and putting that maker in its row.
#include "modules.h"

#include "button.h"
#include "descriptor.h"
#include "led.h"
#include "rfid.h"

namespace {

// `file` is not here: every app gets it, and start-up sets it after the `tobrel` object.
const ModuleRow kModuleTable[] = {
    {"led", ModuleHost::Tobrel, "led", createLedTemplate},
    {"ears", ModuleHost::Tobrel, "ears", nullptr},
    {"tts", ModuleHost::Tobrel, "tts", nullptr},
    {"webcam", ModuleHost::Tobrel, "webcam", nullptr},
    {"asr", ModuleHost::Tobrel, "asr", nullptr},
    {"multimedia", ModuleHost::Tobrel, "multimedia", nullptr},
    {"button", ModuleHost::Tobrel, "button", createButtonTemplate},
    {"rfid", ModuleHost::Tobrel, "rfid", createRfidTemplate},
    {"t2t", ModuleHost::Tobrel, "t2t", nullptr},
    {"message", ModuleHost::Tobrel, "message", nullptr},
    {"contact", ModuleHost::Tobrel, "contact", nullptr},
    {"serial", ModuleHost::Tobrel, "serial", nullptr},
    {"dock", ModuleHost::Tobrel, "dock", nullptr},
    {"social", ModuleHost::Global, nullptr, nullptr},
    {"http", ModuleHost::Global, "http", nullptr},
};

}  // namespace

void installModuleRows(const ModuleRow* rows, size_t count, v8::Isolate* isolate,
                       v8::Local<v8::ObjectTemplate> globalTemplate,
                       v8::Local<v8::ObjectTemplate> tobrelTemplate, const Descriptor& descriptor) {
  for (size_t i = 0; i < count; ++i) {
    const ModuleRow& row = rows[i];
    if (row.make == nullptr) continue;
    if (row.access != nullptr && !descriptor.hasAccess(row.access)) continue;
    v8::Local<v8::ObjectTemplate> host = row.host == ModuleHost::Tobrel ? tobrelTemplate : globalTemplate;
    host->Set(isolate, row.name, row.make(isolate));
  }
}

void installModules(v8::Isolate* isolate, v8::Local<v8::ObjectTemplate> globalTemplate,
                    v8::Local<v8::ObjectTemplate> tobrelTemplate, const Descriptor& descriptor) {
  installModuleRows(kModuleTable, sizeof kModuleTable / sizeof kModuleTable[0], isolate,
                    globalTemplate, tobrelTemplate, descriptor);
}

void setMethod(v8::Isolate* isolate, v8::Local<v8::ObjectTemplate> target, const char* name,
               v8::FunctionCallback native) {
  target->Set(isolate, name, v8::FunctionTemplate::New(isolate, native));
}
