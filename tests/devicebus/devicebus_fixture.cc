// The caller's side of the private bus for the devicebus tests (see devicebus_fixture.h).
#include "devicebus_fixture.h"

#include <dbus/dbus-glib-lowlevel.h>
#include <gtest/gtest.h>
#include <stdio.h>
#include <stdlib.h>

std::vector<std::string> openBusPolicy() { return {BUS_POLICY}; }

bool useAsSystemBus(const tobrel::test::PrivateBus& bus) {
  if (!bus.ok()) {
    ADD_FAILURE() << "no private bus: " << bus.error();
    return false;
  }
  setenv("DBUS_SYSTEM_BUS_ADDRESS", bus.address().c_str(), 1);
  return true;
}

DBusGConnection* connectToSystemBus() {
  GError* error = nullptr;
  DBusGConnection* connection = dbus_g_bus_get_private(DBUS_BUS_SYSTEM, nullptr, &error);
  if (connection == nullptr) {
    ADD_FAILURE() << "cannot connect to the private bus: " << error->message;
    g_error_free(error);
    return nullptr;
  }
  // The bus goes away before this process ends; that must not end the test process.
  dbus_connection_set_exit_on_disconnect(dbus_g_connection_get_connection(connection), FALSE);
  return connection;
}

void closeConnection(DBusGConnection* connection) {
  if (connection == nullptr) return;
  dbus_connection_close(dbus_g_connection_get_connection(connection));
  dbus_g_connection_unref(connection);
}

const ModuleNames kModuleNames[15] = {
    {0, "com.helvorand.tobrel.Led", "/com/helvorand/tobrel/Led", "com.helvorand.tobrel.TobrelInterface", "LED"},
    {1, "com.helvorand.tobrel.Ears", "/com/helvorand/tobrel/Ears", "com.helvorand.tobrel.TobrelInterface", "EARS"},
    {2, "com.helvorand.tobrel.Rss", "/com/helvorand/tobrel/Rss", "com.helvorand.tobrel.TobrelInterface", "RSS"},
    {3, "com.helvorand.tobrel.Voice", "/com/helvorand/tobrel/Voice", "com.helvorand.tobrel.TobrelInterface", "TTS"},
    {4, "com.helvorand.tobrel.Rfid", "/com/helvorand/tobrel/Rfid", "com.helvorand.tobrel.TobrelInterface", "RFID"},
    {5, "com.helvorand.tobrel.Button", "/com/helvorand/tobrel/Button", "com.helvorand.tobrel.TobrelInterface",
     "BUTTON"},
    {6, "com.helvorand.tobrel.Multimedia", "/com/helvorand/tobrel/Multimedia",
     "com.helvorand.tobrel.TobrelInterface", "MULTIMEDIA"},
    {7, "com.helvorand.tobrel.Controller", "/com/helvorand/tobrel/Controller",
     "com.helvorand.tobrel.TobrelInterface", "BUTTON"},
    {8, "org.moblin.connman", "/", "org.moblin.connman.Manager", "CONNMAN"},
    {9, "com.helvorand.tobrel.Choreography_manager", "/com/helvorand/tobrel/Choreography_manager",
     "com.helvorand.tobrel.TobrelInterface", "CHOREOGRAPHY_MANAGER"},
    {10, "com.helvorand.tobrel.Webcam", "/com/helvorand/tobrel/Webcam", "com.helvorand.tobrel.TobrelInterface",
     "WEBCAM"},
    {11, "com.helvorand.tobrel.Scheduler", "/com/helvorand/tobrel/Scheduler", "com.helvorand.tobrel.TobrelInterface",
     "SCHEDULER"},
    {12, "com.helvorand.tobrel.T2t", "/com/helvorand/tobrel/T2t", "com.helvorand.tobrel.TobrelInterface", "T2T"},
    {13, "com.helvorand.tobrel.Serial", "/com/helvorand/tobrel/Serial", "com.helvorand.tobrel.TobrelInterface",
     "SERIAL"},
    {14, "com.helvorand.tobrel.Dock", "/com/helvorand/tobrel/Dock", "com.helvorand.tobrel.TobrelInterface", "DOCK"},
};

std::string capturedStdout(const std::function<void()>& body) {
  fflush(stdout);
  testing::internal::CaptureStdout();
  body();
  fflush(stdout);
  return testing::internal::GetCapturedStdout();
}

std::map<std::string, std::string> exportedSymbols(const std::string& nm, const std::string& library) {
  std::map<std::string, std::string> exported;
  FILE* listing = popen((nm + " -D --defined-only '" + library + "'").c_str(), "r");
  if (listing == nullptr) return exported;
  char line[512];
  while (fgets(line, sizeof line, listing) != nullptr) {
    char address[64], type[8], name[256];
    if (sscanf(line, "%63s %7s %255s", address, type, name) == 3) exported[name] = type;
  }
  if (pclose(listing) != 0) exported.clear();
  return exported;
}
