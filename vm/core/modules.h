// The binding table of the app's module objects and the access gate that installs them.
// This is the one place that knows the modules: every object, where it lies, its access word and
// its methods in order. A module joins by putting its natives in its row.
#ifndef TOBREL_VM_CORE_MODULES_H
#define TOBREL_VM_CORE_MODULES_H

#include <vector>

#include <v8.h>

class Descriptor;

enum class ModuleHost {
  Tobrel,   // a property of the `tobrel` object
  Global,   // a property of the global object
  StartUp,  // a global object that start-up sets itself, after `tobrel` (installModules skips it)
};

struct ModuleMethod {
  const char* name;
  v8::FunctionCallback native;  // set in every row of the real table (see moduleBuilt)
};

struct ModuleRow {
  const char* name;     // property name of the module object
  ModuleHost host;
  const char* access;   // access word that grants it; null: every app gets it
  std::vector<ModuleMethod> methods;  // in their order of definition on the object
};

// The whole table, in the order of installation.
const std::vector<ModuleRow>& moduleTable();

// The row of the named object, or null.
const ModuleRow* findModule(const char* name);

// Whether every method of the row has its native. A row that lacks one installs nothing:
// a module object is never half-built and never a stub.
bool moduleBuilt(const ModuleRow& row);

// A new object template with the row's methods, each a function template of its native with
// no data and no receiver check, so a method taken off its object behaves the same.
v8::Local<v8::ObjectTemplate> createModuleTemplate(v8::Isolate* isolate, const ModuleRow& row);

// The template of the global `file` object (read, write), which start-up sets itself.
v8::Local<v8::ObjectTemplate> createFileTemplate(v8::Isolate* isolate);

// Sets the module objects that the descriptor grants on the two templates, in table order.
void installModules(v8::Isolate* isolate, v8::Local<v8::ObjectTemplate> globalTemplate,
                    v8::Local<v8::ObjectTemplate> tobrelTemplate, const Descriptor& descriptor);

// The gate and the order over any table; installModules applies it to the real one.
void installModuleRows(const std::vector<ModuleRow>& rows, v8::Isolate* isolate,
                       v8::Local<v8::ObjectTemplate> globalTemplate,
                       v8::Local<v8::ObjectTemplate> tobrelTemplate, const Descriptor& descriptor);

#endif
