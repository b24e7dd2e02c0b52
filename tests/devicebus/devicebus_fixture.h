// Test support for devicebus: the caller's side of a private bus (a dbus-glib connection, as the
// library's users hold one), the names each module number must reach, and stdout capture.
#ifndef TESTS_DEVICEBUS_DEVICEBUS_FIXTURE_H
#define TESTS_DEVICEBUS_DEVICEBUS_FIXTURE_H

#include <dbus/dbus-glib.h>
#include <glib.h>

#include <functional>
#include <map>
#include <string>
#include <vector>

#include "private_bus.h"

// A private system-like bus whose policy lets the stand-ins own any name and be called. Its
// address becomes DBUS_SYSTEM_BUS_ADDRESS of this process and of the children it starts.
std::vector<std::string> openBusPolicy();
bool useAsSystemBus(const tobrel::test::PrivateBus& bus);

// A new registered connection to the system bus, closed again by closeConnection.
DBusGConnection* connectToSystemBus();
void closeConnection(DBusGConnection* connection);

// The names a module number stands for; the stand-in owns them where the module is served.
struct ModuleNames {
  int number;
  const char* service;
  const char* path;
  const char* interface;
  const char* label;
};
extern const ModuleNames kModuleNames[15];

// Runs `body` and returns what it wrote on standard output.
std::string capturedStdout(const std::function<void()>& body);

// The names that `library` exports (nm -D --defined-only, nm at `nm`), each with its nm type
// letter ("T" for a function); empty when nm fails.
std::map<std::string, std::string> exportedSymbols(const std::string& nm, const std::string& library);

#endif
