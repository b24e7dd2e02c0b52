// Stand-in for the device services (and the voice daemon's interface) on a private bus.
// It owns the bus names it is given and answers a script of expected calls, in order: a call
// that differs from the next expected one in object, interface, method, signature or values is
// answered with an error naming what arrived, so a caller that sends the wrong thing fails.
//
// usage: device-service-standin ADDRESS
//          --service NAME PATH INTERFACE      (rules that follow belong to this object)
//          --reply METHOD IN_SIG IN_VALUES OUT_SIG OUT_VALUES
//          --error METHOD IN_SIG IN_VALUES ERROR_NAME MESSAGE
// Signatures are D-Bus signatures without parentheses ("" for none); values are GVariant text
// tuples, e.g. "('red', 3)" or "()". "ready" is printed on standard output once every name is
// owned; every call received is logged on standard error.
#include <gio/gio.h>

#include <stdio.h>
#include <string.h>

#include <map>
#include <string>
#include <vector>

namespace {

const char kUnexpected[] = "com.helvorand.tobrel.Standin.Unexpected";

struct Service {
  std::string name, path, interface;
  GDBusNodeInfo* node = nullptr;
};

struct Rule {
  size_t service;
  std::string method, inSig, outSig;
  GVariant* in = nullptr;
  GVariant* out = nullptr;  // NULL for an error reply
  std::string errorName, errorMessage;
};

struct Standin {
  std::vector<Service> services;
  std::vector<Rule> rules;
  size_t next = 0;
  GMainLoop* loop = nullptr;
};

GVariant* parseTuple(const std::string& sig, const std::string& text) {
  std::string type = "(" + sig + ")";
  if (!g_variant_type_string_is_valid(type.c_str())) {
    fprintf(stderr, "device-service-standin: bad signature '%s'\n", sig.c_str());
    return nullptr;
  }
  GError* error = nullptr;
  GVariant* value = g_variant_parse(G_VARIANT_TYPE(type.c_str()), text.c_str(), nullptr, nullptr, &error);
  if (value == nullptr) {
    fprintf(stderr, "device-service-standin: bad value '%s': %s\n", text.c_str(), error->message);
    g_error_free(error);
    return nullptr;
  }
  return g_variant_ref_sink(value);
}

void appendArgs(std::string& xml, const std::string& sig, const char* direction) {
  std::string tuple = "(" + sig + ")";
  for (const GVariantType* t = g_variant_type_first(G_VARIANT_TYPE(tuple.c_str())); t != nullptr;
       t = g_variant_type_next(t)) {
    gchar* one = g_variant_type_dup_string(t);
    xml += std::string("<arg direction='") + direction + "' type='" + one + "'/>";
    g_free(one);
  }
}

// The interface each object declares is built from its rules: the first rules of a method fix
// its signatures, so the bus library itself refuses a call with other argument types.
bool buildIntrospection(Standin& s) {
  for (size_t i = 0; i < s.services.size(); ++i) {
    std::string xml = "<node><interface name='" + s.services[i].interface + "'>";
    std::map<std::string, std::string> in, out;  // method -> signature
    std::vector<std::string> order;
    for (const Rule& r : s.rules) {
      if (r.service != i) continue;
      if (in.emplace(r.method, r.inSig).second) order.push_back(r.method);
      if (r.out != nullptr) out.emplace(r.method, r.outSig);
    }
    for (const std::string& method : order) {
      xml += "<method name='" + method + "'>";
      appendArgs(xml, in[method], "in");
      appendArgs(xml, out[method], "out");
      xml += "</method>";
    }
    xml += "</interface></node>";
    GError* error = nullptr;
    s.services[i].node = g_dbus_node_info_new_for_xml(xml.c_str(), &error);
    if (s.services[i].node == nullptr) {
      fprintf(stderr, "device-service-standin: %s\n", error->message);
      g_error_free(error);
      return false;
    }
  }
  return true;
}

void onCall(GDBusConnection*, const gchar*, const gchar* path, const gchar* interface, const gchar* method,
            GVariant* params, GDBusMethodInvocation* invocation, gpointer data) {
  auto* s = static_cast<Standin*>(data);
  gchar* text = g_variant_print(params, FALSE);
  fprintf(stderr, "device-service-standin: %s %s.%s%s\n", path, interface, method, text);
  std::string got = std::string(path) + " " + interface + "." + method + " " +
                    g_variant_get_type_string(params) + " " + text;
  g_free(text);
  if (s->next >= s->rules.size()) {
    g_dbus_method_invocation_return_dbus_error(invocation, kUnexpected, ("no call expected: " + got).c_str());
    return;
  }
  const Rule& r = s->rules[s->next];
  const Service& service = s->services[r.service];
  if (service.path != path || service.interface != interface || r.method != method ||
      !g_variant_equal(r.in, params)) {
    gchar* want = g_variant_print(r.in, FALSE);
    std::string message = "unexpected call: " + got + " (expected " + service.path + " " + service.interface + "." +
                          r.method + " " + g_variant_get_type_string(r.in) + " " + want + ")";
    g_free(want);
    g_dbus_method_invocation_return_dbus_error(invocation, kUnexpected, message.c_str());
    return;
  }
  ++s->next;
  if (r.out != nullptr) {
    g_dbus_method_invocation_return_value(invocation, r.out);
  } else {
    g_dbus_method_invocation_return_dbus_error(invocation, r.errorName.c_str(), r.errorMessage.c_str());
  }
}

const GDBusInterfaceVTable kVTable = {onCall, nullptr, nullptr, {nullptr}};

bool parseArgs(Standin& s, int argc, char** argv) {
  for (int i = 2; i < argc;) {
    std::string opt = argv[i];
    if (opt == "--service" && i + 3 < argc) {
      s.services.push_back(Service{argv[i + 1], argv[i + 2], argv[i + 3]});
      i += 4;
    } else if ((opt == "--reply" || opt == "--error") && i + 5 < argc && !s.services.empty()) {
      Rule r;
      r.service = s.services.size() - 1;
      r.method = argv[i + 1];
      r.inSig = argv[i + 2];
      r.in = parseTuple(r.inSig, argv[i + 3]);
      if (r.in == nullptr) return false;
      if (opt == "--reply") {
        r.outSig = argv[i + 4];
        r.out = parseTuple(r.outSig, argv[i + 5]);
        if (r.out == nullptr) return false;
      } else {
        r.errorName = argv[i + 4];
        r.errorMessage = argv[i + 5];
      }
      s.rules.push_back(r);
      i += 6;
    } else {
      fprintf(stderr, "device-service-standin: bad argument '%s'\n", argv[i]);
      return false;
    }
  }
  return !s.services.empty();
}

bool ownName(GDBusConnection* bus, const std::string& name) {
  GError* error = nullptr;
  GVariant* reply = g_dbus_connection_call_sync(bus, "org.freedesktop.DBus", "/org/freedesktop/DBus",
                                                "org.freedesktop.DBus", "RequestName",
                                                g_variant_new("(su)", name.c_str(), 4u /* do not queue */),
                                                G_VARIANT_TYPE("(u)"), G_DBUS_CALL_FLAGS_NONE, -1, nullptr, &error);
  if (reply == nullptr) {
    fprintf(stderr, "device-service-standin: RequestName %s: %s\n", name.c_str(), error->message);
    g_error_free(error);
    return false;
  }
  guint32 answer = 0;
  g_variant_get(reply, "(u)", &answer);
  g_variant_unref(reply);
  // 1: primary owner; 4: this connection owns it already (two objects under one name).
  return answer == 1 || answer == 4;
}

void onClosed(GDBusConnection*, gboolean, GError*, gpointer data) {
  g_main_loop_quit(static_cast<Standin*>(data)->loop);
}

}  // namespace

int main(int argc, char** argv) {
  Standin s;
  if (argc < 2 || !parseArgs(s, argc, argv) || !buildIntrospection(s)) {
    fprintf(stderr, "usage: %s ADDRESS --service NAME PATH INTERFACE [--reply|--error ...]...\n", argv[0]);
    return 2;
  }
  GError* error = nullptr;
  GDBusConnection* bus = g_dbus_connection_new_for_address_sync(
      argv[1],
      static_cast<GDBusConnectionFlags>(G_DBUS_CONNECTION_FLAGS_AUTHENTICATION_CLIENT |
                                        G_DBUS_CONNECTION_FLAGS_MESSAGE_BUS_CONNECTION),
      nullptr, nullptr, &error);
  if (bus == nullptr) {
    fprintf(stderr, "device-service-standin: %s\n", error->message);
    g_error_free(error);
    return 1;
  }
  s.loop = g_main_loop_new(nullptr, FALSE);
  g_signal_connect(bus, "closed", G_CALLBACK(onClosed), &s);
  for (Service& service : s.services) {
    if (g_dbus_connection_register_object(bus, service.path.c_str(), service.node->interfaces[0], &kVTable, &s,
                                          nullptr, &error) == 0) {
      fprintf(stderr, "device-service-standin: %s\n", error->message);
      g_error_free(error);
      return 1;
    }
    if (!ownName(bus, service.name)) return 1;
  }
  printf("ready\n");
  fflush(stdout);
  g_main_loop_run(s.loop);
  g_object_unref(bus);
  g_main_loop_unref(s.loop);
  for (Rule& r : s.rules) {
    g_variant_unref(r.in);
    if (r.out != nullptr) g_variant_unref(r.out);
  }
  for (Service& service : s.services) g_dbus_node_info_unref(service.node);
  return 0;
}
