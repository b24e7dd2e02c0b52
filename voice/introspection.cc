// The bindings build a signal's introspection from its GObject signal, which has no argument
// names, and list methods and signals in reverse; clients read the interface from Introspect.
// A filter on the connection, which sees every message before the bindings' object handlers,
// answers it on the object's path from the interface file that the glue is made from.
#include "introspection.h"

#include <dbus/dbus-glib-lowlevel.h>
#include <dbus/dbus.h>
#include <string.h>

#include <string>

#include "voice-interface-xml.h"
#include "voice.h"

namespace {

// Of what the bindings serve on every object, what the installed policy lets any caller use:
// introspection. Their Properties interface is left out: the policy lets no call to it through,
// and the object has no property to give.
const char kStandardInterfaces[] =
    "  <interface name=\"org.freedesktop.DBus.Introspectable\">\n"
    "    <method name=\"Introspect\">\n"
    "      <arg name=\"data\" direction=\"out\" type=\"s\"/>\n"
    "    </method>\n"
    "  </interface>\n";

// The interface elements of the file, as written there.
std::string fileInterfaces() {
  const std::string file = kVoiceInterfaceXml;
  const size_t begin = file.find("  <interface ");
  const size_t end = file.rfind("</interface>");
  if (begin == std::string::npos || end == std::string::npos) return "";
  return file.substr(begin, end + strlen("</interface>") - begin) + "\n";
}

const std::string &introspectionXml() {
  static const std::string xml = std::string(DBUS_INTROSPECT_1_0_XML_DOCTYPE_DECL_NODE) +
                                 "<node>\n" + kStandardInterfaces + fileInterfaces() + "</node>\n";
  return xml;
}

bool isIntrospect(DBusMessage *message) {
  if (dbus_message_get_type(message) != DBUS_MESSAGE_TYPE_METHOD_CALL) return false;
  const char *interface = dbus_message_get_interface(message);
  const char *member = dbus_message_get_member(message);
  // The interface field is optional in a call.
  return (interface == nullptr || strcmp(interface, DBUS_INTERFACE_INTROSPECTABLE) == 0) &&
         member != nullptr && strcmp(member, "Introspect") == 0 &&
         dbus_message_has_path(message, VOICE_OBJECT_PATH);
}

DBusHandlerResult answerIntrospect(DBusConnection *connection, DBusMessage *message, void *) {
  if (!isIntrospect(message)) return DBUS_HANDLER_RESULT_NOT_YET_HANDLED;
  DBusMessage *reply = dbus_message_new_method_return(message);
  if (reply == nullptr) return DBUS_HANDLER_RESULT_NEED_MEMORY;
  const char *xml = introspectionXml().c_str();
  const bool sent = dbus_message_append_args(reply, DBUS_TYPE_STRING, &xml, DBUS_TYPE_INVALID) &&
                    dbus_connection_send(connection, reply, nullptr);
  dbus_message_unref(reply);
  return sent ? DBUS_HANDLER_RESULT_HANDLED : DBUS_HANDLER_RESULT_NEED_MEMORY;
}

}  // namespace

void voiceAnswerIntrospection(DBusGConnection *bus) {
  dbus_connection_add_filter(dbus_g_connection_get_connection(bus), answerIntrospect, nullptr,
                             nullptr);
}
