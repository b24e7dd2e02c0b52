// The service object's introspection data, answered by the daemon from its interface file.
#pragma once

#include <dbus/dbus-glib.h>

// From here on, Introspect on the object's path is answered with the interface as the interface
// file declares it, argument names and member order included.
void voiceAnswerIntrospection(DBusGConnection *bus);
