// voice: the daemon's entry point. Routes logging through tobrel-common, owns its name on the
// system bus, creates the one VoiceObject and runs the main loop until it is killed.
#include <dbus/dbus-glib-bindings.h>
#include <dbus/dbus-glib.h>
#include <fcntl.h>
#include <signal.h>
#include <stdio.h>
#include <stdlib.h>
#include <syslog.h>
#include <unistd.h>

#include "introspection.h"
#include "tobrel-common.h"
#include "voice.h"

namespace {

// Descriptor 0 counts as "none" for the recognition socket and the audio device, so the
// standard descriptors must never be free for socket() or open() to hand out.
void keepStandardDescriptorsOpen() {
  for (int fd = 0; fd <= 2; ++fd) {
    if (fcntl(fd, F_GETFD) >= 0) continue;
    int null_fd = open("/dev/null", O_RDWR);
    if (null_fd >= 0 && null_fd != fd) {
      dup2(null_fd, fd);
      close(null_fd);
    }
  }
}

}  // namespace

int main() {
  keepStandardDescriptorsOpen();
  // Every message is echoed on standard output; once its reader has gone (`voice | head`), the
  // echo fails and the daemon goes on. The speech child restores the default for the player.
  signal(SIGPIPE, SIG_IGN);
  // Standard output carries the log echo: line by line, so that a log reader sees each line as
  // it is written and a fork copies no pending text.
  setvbuf(stdout, nullptr, _IOLBF, 0);

  gint threshold = getenv("TOBREL_DEBUG") ? LOG_DEBUG : LOG_NOTICE;
  init_tobrel_log(VOICE_LOG_IDENT, &threshold);
  // The GLib type system initialises itself (g_type_init is a no-op in this GLib).
  GMainLoop *loop = g_main_loop_new(nullptr, FALSE);
  g_message("Loading brick\n");

  GError *error = nullptr;
  DBusGConnection *bus = dbus_g_bus_get(DBUS_BUS_SYSTEM, &error);
  if (!bus) g_error("Failed to open connection to bus");
  g_message("Successfully connected to %s bus\n", "SYSTEM");

  VoiceObject *voice = VOICE_OBJECT(g_object_new(VOICE_TYPE_OBJECT, nullptr));
  dbus_g_connection_register_g_object(bus, VOICE_OBJECT_PATH, G_OBJECT(voice));
  voiceAnswerIntrospection(bus);

  DBusGProxy *bus_proxy = dbus_g_proxy_new_for_name(bus, "org.freedesktop.DBus",
                                                    "/org/freedesktop/DBus", "org.freedesktop.DBus");
  guint request_answer = 0;
  if (!org_freedesktop_DBus_request_name(bus_proxy, VOICE_SERVICE_NAME, 0, &request_answer,
                                         &error))
    g_error("Failed to get name");
  if (request_answer != DBUS_REQUEST_NAME_REPLY_PRIMARY_OWNER)
    g_error("Got result code %u from requesting name", request_answer);

  g_signal_emit(voice, VOICE_OBJECT_GET_CLASS(voice)->registered, 0);
  g_main_loop_run(loop);
  return 0;
}
