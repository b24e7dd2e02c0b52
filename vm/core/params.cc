// Reads config.bin (one serialised ConfigApp, no length prefix) into the `params` object.
#include "params.h"

#include <errno.h>
#include <glib.h>
#include <stdio.h>
#include <stdlib.h>
#include <sys/stat.h>

#include <memory>
#include <string>

#include "nusk-message.pb.h"
#include "own_property.h"
#include "script.h"

namespace {

using net::zolvek::nusk::message::ConfigApp;
using net::zolvek::nusk::message::ConfigInstance;
using net::zolvek::nusk::message::KeyValue;

void setString(v8::Isolate* isolate, v8::Local<v8::Object> target, const std::string& key,
               const std::string& value) {
  setOwnProperty(isolate, target, key.c_str(), newString(isolate, value.c_str()));
}

bool readConfig(const char* path, ConfigApp* config) {
  struct stat st;
  if (stat(path, &st) != 0) {
    g_warning("no params loaded: %s", g_strerror(errno));
    return false;
  }
  const size_t size = static_cast<size_t>(st.st_size);
  std::unique_ptr<char, decltype(&free)> buffer(static_cast<char*>(malloc(size > 0 ? size : 1)), &free);
  if (!buffer) {
    g_warning("%s", g_strerror(ENOMEM));
    return false;
  }
  FILE* file = fopen(path, "rb");
  if (file == nullptr) {
    g_warning("%s", g_strerror(errno));
    return false;
  }
  // The file may have shrunk since stat: only the bytes read are parsed.
  const size_t got = fread(buffer.get(), 1, size, file);
  fclose(file);
  // Whatever parsed is used, even when fields are missing or the bytes end early.
  config->ParseFromArray(buffer.get(), static_cast<int>(got));
  return true;
}

}  // namespace

v8::Local<v8::Object> loadParams(v8::Isolate* isolate, const char* path) {
  v8::Local<v8::Object> params = v8::Object::New(isolate);
  ConfigApp config;
  if (!readConfig(path, &config)) return params;

  for (const ConfigInstance& instance : config.configinstance()) {
    v8::Local<v8::Object> object = v8::Object::New(isolate);
    for (const KeyValue& pair : instance.params()) setString(isolate, object, pair.key(), pair.value());
    if (instance.has_accesstoken()) setString(isolate, object, "accessToken", instance.accesstoken());
    if (instance.has_uuid()) setString(isolate, object, "uuid", instance.uuid());
    setOwnProperty(isolate, params, instance.name().c_str(), object);
  }

  g_debug("create parameters");
  g_debug("parameters size : %d", config.parameters_size());
  if (config.parameters_size() > 0) {
    v8::Local<v8::Object> descriptor = v8::Object::New(isolate);
    for (const KeyValue& pair : config.parameters()) {
      g_debug("create parameters key : %s", pair.key().c_str());
      g_debug("create parameters value : %s", pair.value().c_str());
      setString(isolate, descriptor, pair.key(), pair.value());
    }
    setOwnProperty(isolate, params, "descriptor", descriptor);
  }
  g_debug("create parameters done");
  return params;
}
