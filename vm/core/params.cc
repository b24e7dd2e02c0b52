// Reads config.bin (one serialised ConfigApp, no length prefix) into the `params` object.
#include "params.h"

#include <errno.h>
#include <glib.h>
#include <limits.h>
#include <sys/stat.h>

#include <string>

#include "nusk-message.pb.h"
#include "own_property.h"
#include "script.h"
#include "whole_file.h"

namespace {

using net::zolvek::nusk::message::ConfigApp;
using net::zolvek::nusk::message::ConfigInstance;
using net::zolvek::nusk::message::KeyValue;

bool readConfig(const char* path, ConfigApp* config) {
  struct stat st;
  if (stat(path, &st) != 0) {
    g_warning("no params loaded: %s", g_strerror(errno));
    return false;
  }
  WholeFile file;
  const int error = readWholeFile(path, &file, INT_MAX);  // the parser takes an int count
  if (error != 0) {
    g_warning("%s", g_strerror(error));
    return false;
  }
  // Whatever parsed is used, even when fields are missing or the bytes end early.
  config->ParseFromArray(file.bytes.get(), static_cast<int>(file.size));
  return true;
}

}  // namespace

v8::Local<v8::Object> loadParams(v8::Isolate* isolate, const char* path) {
  v8::Local<v8::Object> params = v8::Object::New(isolate);
  ConfigApp config;
  if (!readConfig(path, &config)) return params;

  for (const ConfigInstance& instance : config.configinstance()) {
    v8::Local<v8::Object> object = v8::Object::New(isolate);
    for (const KeyValue& pair : instance.params()) setOwnText(isolate, object, pair.key().c_str(), pair.value().c_str());
    if (instance.has_accesstoken()) setOwnText(isolate, object, "accessToken", instance.accesstoken().c_str());
    if (instance.has_uuid()) setOwnText(isolate, object, "uuid", instance.uuid().c_str());
    setOwnProperty(isolate, params, instance.name().c_str(), object);
  }

  g_debug("create parameters");
  g_debug("parameters size : %d", config.parameters_size());
  if (config.parameters_size() > 0) {
    v8::Local<v8::Object> descriptor = v8::Object::New(isolate);
    for (const KeyValue& pair : config.parameters()) {
      g_debug("create parameters key : %s", pair.key().c_str());
      g_debug("create parameters value : %s", pair.value().c_str());
      setOwnText(isolate, descriptor, pair.key().c_str(), pair.value().c_str());
    }
    setOwnProperty(isolate, params, "descriptor", descriptor);
  }
  g_debug("create parameters done");
  return params;
}
