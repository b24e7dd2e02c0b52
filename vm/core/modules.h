// The binding table of the app's module objects and the access gate that installs them.
// This is the one place that knows the modules: a module joins by filling in its row's maker.
#ifndef TOBREL_VM_CORE_MODULES_H
#define TOBREL_VM_CORE_MODULES_H

#include <stddef.h>

#include <v8.h>

class Descriptor;

enum class ModuleHost { Tobrel, Global };

using TemplateMaker = v8::Local<v8::ObjectTemplate> (*)(v8::Isolate*);

struct ModuleRow {
  const char* name;    // property name of the module object
  ModuleHost host;     // the `tobrel` object or the global object
  const char* access;  // access word that grants it; null: every app gets it
  TemplateMaker make;  // null while the module's natives are not built: nothing is installed
};

// Sets the module objects that the descriptor grants on the two templates, in table order.
void installModules(v8::Isolate* isolate, v8::Local<v8::ObjectTemplate> globalTemplate,
                    v8::Local<v8::ObjectTemplate> tobrelTemplate, const Descriptor& descriptor);

// The gate and the order over any table; installModules applies it to the real one.
void installModuleRows(const ModuleRow* rows, size_t count, v8::Isolate* isolate,
                       v8::Local<v8::ObjectTemplate> globalTemplate,
                       v8::Local<v8::ObjectTemplate> tobrelTemplate, const Descriptor& descriptor);

// One method of a module object: a function template of the native with no data and no
// receiver check, so a method taken off its object behaves the same.
void setMethod(v8::Isolate* isolate, v8::Local<v8::ObjectTemplate> target, const char* name,
               v8::FunctionCallback native);

#endif
