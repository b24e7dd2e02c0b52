// devicebus: proxies by module number and one synchronous dbus-glib call per remote method.
// Every wrapper is one call through the helpers below, so the NULL-proxy test, the error line
// and the handling of out-arguments live in one place.
#include "devicebus.h"

#include <stdlib.h>

#include "utils.h"

namespace {

const char kCallFailed[] = "Call to dbus_g_proxy_call failed";
const char kEarsMoveFailed[] = "Call to dbus_g_proxy_call ping failed";
const char kDeviceInterface[] = "com.helvorand.tobrel.TobrelInterface";

struct Module {
  const char* service;
  const char* path;
  const char* interface;
  const char* label;  // only for the proxy set-up's failure line
};

const Module kModules[] = {
    {"com.helvorand.tobrel.Led", "/com/helvorand/tobrel/Led", kDeviceInterface, "LED"},
    {"com.helvorand.tobrel.Ears", "/com/helvorand/tobrel/Ears", kDeviceInterface, "EARS"},
    {"com.helvorand.tobrel.Rss", "/com/helvorand/tobrel/Rss", kDeviceInterface, "RSS"},
    {"com.helvorand.tobrel.Voice", "/com/helvorand/tobrel/Voice", kDeviceInterface, "TTS"},
    {"com.helvorand.tobrel.Rfid", "/com/helvorand/tobrel/Rfid", kDeviceInterface, "RFID"},
    {"com.helvorand.tobrel.Button", "/com/helvorand/tobrel/Button", kDeviceInterface, "BUTTON"},
    {"com.helvorand.tobrel.Multimedia", "/com/helvorand/tobrel/Multimedia", kDeviceInterface, "MULTIMEDIA"},
    // The controller has always reported itself under the button's label.
    {"com.helvorand.tobrel.Controller", "/com/helvorand/tobrel/Controller", kDeviceInterface, "BUTTON"},
    {"org.moblin.connman", "/", "org.moblin.connman.Manager", "CONNMAN"},
    {"com.helvorand.tobrel.Choreography_manager", "/com/helvorand/tobrel/Choreography_manager", kDeviceInterface,
     "CHOREOGRAPHY_MANAGER"},
    {"com.helvorand.tobrel.Webcam", "/com/helvorand/tobrel/Webcam", kDeviceInterface, "WEBCAM"},
    {"com.helvorand.tobrel.Scheduler", "/com/helvorand/tobrel/Scheduler", kDeviceInterface, "SCHEDULER"},
    {"com.helvorand.tobrel.T2t", "/com/helvorand/tobrel/T2t", kDeviceInterface, "T2T"},
    {"com.helvorand.tobrel.Serial", "/com/helvorand/tobrel/Serial", kDeviceInterface, "SERIAL"},
    {"com.helvorand.tobrel.Dock", "/com/helvorand/tobrel/Dock", kDeviceInterface, "DOCK"},
};
const int kModuleCount = sizeof kModules / sizeof kModules[0];

// The wrappers' only plain C strings are their in-strings (out-strings are char**); libdbus ends
// the calling program on one that is not valid UTF-8. NULL travels as the empty string.
bool validText(const char* text) { return text == NULL || g_utf8_validate(text, -1, NULL); }
template <typename T>
bool validText(T) {
  return true;
}

// One blocking call. `args` is the whole in-list and out-list, each closed by G_TYPE_INVALID.
// A failure is printed with `failure` (nothing when it is NULL) and the error is freed. A string
// that is not valid UTF-8 fails the call before anything is sent.
template <typename... Args>
bool call(DBusGProxy* proxy, const char* failure, const char* method, Args... args) {
  if (!(validText(args) && ...)) {
    if (failure != NULL) g_print("%s: %s\n", failure, "invalid UTF-8 argument");
    return false;
  }
  GError* error = NULL;
  if (dbus_g_proxy_call(proxy, method, &error, args...)) return true;
  if (failure != NULL) {
    handleError(failure, error, FALSE);
  } else {
    g_clear_error(&error);
  }
  return false;
}

// A method whose only answer is its boolean result. `in` is the in-list with its terminator.
template <typename... In>
gboolean remoteResult(DBusGProxy* proxy, const char* failure, const char* method, In... in) {
  if (proxy == NULL) return FALSE;
  gboolean result = FALSE;
  if (!call(proxy, failure, method, in..., G_TYPE_BOOLEAN, &result, G_TYPE_INVALID)) return FALSE;
  return result ? TRUE : FALSE;
}

// Out-values are received into the wrapper's own variables and handed over only after a
// successful call, so a failed call leaves the caller's variables as they were.
void giveString(char** out, char* value) {
  if (out != NULL) {
    *out = value;
  } else {
    g_free(value);
  }
}

template <typename T>
void give(T* out, T value) {
  if (out != NULL) *out = value;
}

// A method that answers a string and its boolean result (s, b).
template <typename... In>
gboolean remoteStringResult(DBusGProxy* proxy, const char* method, char** out, In... in) {
  if (proxy == NULL) return FALSE;
  char* value = NULL;
  gboolean result = FALSE;
  if (!call(proxy, kCallFailed, method, in..., G_TYPE_STRING, &value, G_TYPE_BOOLEAN, &result, G_TYPE_INVALID))
    return FALSE;
  giveString(out, value);
  return result ? TRUE : FALSE;
}

}  // namespace

extern "C" {

gboolean dbus_load_proxy(DBusGProxy** proxy, int module, DBusGConnection* connection) {
  if (module < 0 || module >= kModuleCount) {
    g_print("Failed to create proxy for %s Module\n", "ERROR");
    return FALSE;
  }
  const Module& row = kModules[module];
  // dbus-glib would return NULL for a NULL connection too, but only after a critical warning.
  DBusGProxy* made = NULL;
  if (connection != NULL && proxy != NULL)
    made = dbus_g_proxy_new_for_name(connection, row.service, row.path, row.interface);
  if (proxy != NULL) *proxy = made;
  if (made != NULL) return TRUE;
  g_print("Failed to create proxy for %s Module\n", row.label);
  return FALSE;
}

void handleError(const char* text, GError* error, gboolean fatal) {
  g_print("%s: %s\n", text, error != NULL ? error->message : "");
  g_clear_error(&error);
  if (fatal) exit(1);
}

void die(const char* text, GError* error) {
  g_error("%s: %s\n", text, error != NULL ? error->message : "");
}

gboolean ledLight(DBusGProxy* proxy, const char* id, const char* color) {
  return remoteResult(proxy, kCallFailed, "light", G_TYPE_STRING, id, G_TYPE_STRING, color, G_TYPE_INVALID);
}

gboolean ledFade(DBusGProxy* proxy, const char* id, const char* color, int duration) {
  return remoteResult(proxy, kCallFailed, "fade", G_TYPE_STRING, id, G_TYPE_STRING, color, G_TYPE_INT, duration,
                      G_TYPE_INVALID);
}

gboolean ledPulse(DBusGProxy* proxy, const char* id, const char* color1, const char* color2, int period, int count) {
  return remoteResult(proxy, kCallFailed, "pulse", G_TYPE_STRING, id, G_TYPE_STRING, color1, G_TYPE_STRING, color2,
                      G_TYPE_INT, period, G_TYPE_INT, count, G_TYPE_INVALID);
}

gboolean earsReset(DBusGProxy* proxy, const char* id, const char* mode) {
  g_debug("earsReset(controller->proxies.ear B");
  // A failure stays silent, as callers expect, but its error is still freed.
  return remoteResult(proxy, NULL, "reset", G_TYPE_STRING, id, G_TYPE_STRING, mode, G_TYPE_INVALID);
}

gboolean earsMove(DBusGProxy* proxy, const char* id, int left, int right, int speed, int wait) {
  return remoteResult(proxy, kEarsMoveFailed, "move", G_TYPE_STRING, id, G_TYPE_INT, left, G_TYPE_INT, right,
                      G_TYPE_INT, speed, G_TYPE_INT, wait, G_TYPE_INVALID);
}

gboolean earsMoveLeft(DBusGProxy* proxy, const char* id, int position, int speed) {
  return remoteResult(proxy, kEarsMoveFailed, "move_left", G_TYPE_STRING, id, G_TYPE_INT, position, G_TYPE_INT, speed,
                      G_TYPE_INVALID);
}

gboolean earsMoveRight(DBusGProxy* proxy, const char* id, int position, int speed) {
  return remoteResult(proxy, kEarsMoveFailed, "move_right", G_TYPE_STRING, id, G_TYPE_INT, position, G_TYPE_INT,
                      speed, G_TYPE_INVALID);
}

gboolean earsMoveStep(DBusGProxy* proxy, const char* id, int left, int right, int speed, int wait) {
  return remoteResult(proxy, kEarsMoveFailed, "move_step", G_TYPE_STRING, id, G_TYPE_INT, left, G_TYPE_INT, right,
                      G_TYPE_INT, speed, G_TYPE_INT, wait, G_TYPE_INVALID);
}

gboolean earsMoveLeftStep(DBusGProxy* proxy, const char* id, int steps, int speed) {
  return remoteResult(proxy, kEarsMoveFailed, "move_left_step", G_TYPE_STRING, id, G_TYPE_INT, steps, G_TYPE_INT,
                      speed, G_TYPE_INVALID);
}

gboolean earsMoveRightStep(DBusGProxy* proxy, const char* id, int steps, int speed) {
  return remoteResult(proxy, kEarsMoveFailed, "move_right_step", G_TYPE_STRING, id, G_TYPE_INT, steps, G_TYPE_INT,
                      speed, G_TYPE_INVALID);
}

gboolean ttsSpeak(DBusGProxy* proxy, const char* id, const char* text, const char* lang, int behaviour) {
  return remoteResult(proxy, kCallFailed, "tts_speak", G_TYPE_STRING, id, G_TYPE_STRING, text, G_TYPE_STRING, lang,
                      G_TYPE_INT, behaviour, G_TYPE_INVALID);
}

gboolean ttsStop(DBusGProxy* proxy, const char* id, int behaviour) {
  return remoteResult(proxy, kCallFailed, "tts_stop", G_TYPE_STRING, id, G_TYPE_INT, behaviour, G_TYPE_INVALID);
}

gboolean asrStartFile(DBusGProxy* proxy, const char* uid, const char* filename, int behaviour) {
  return remoteResult(proxy, kCallFailed, "asr_start_file", G_TYPE_STRING, uid, G_TYPE_STRING, filename, G_TYPE_INT,
                      behaviour, G_TYPE_INVALID);
}

gboolean asrStartString(DBusGProxy* proxy, const char* uid, const char* grammar, const char* lang, int behaviour) {
  return remoteResult(proxy, kCallFailed, "asr_start_string", G_TYPE_STRING, uid, G_TYPE_STRING, grammar,
                      G_TYPE_STRING, lang, G_TYPE_INT, behaviour, G_TYPE_INVALID);
}

gboolean asrStop(DBusGProxy* proxy, const char* id, int behaviour) {
  return remoteResult(proxy, kCallFailed, "asr_stop", G_TYPE_STRING, id, G_TYPE_INT, behaviour, G_TYPE_INVALID);
}

gboolean rfidGetTags(DBusGProxy* proxy, char** tags) {
  return remoteStringResult(proxy, "getTags", tags, G_TYPE_INVALID);
}

gboolean multimediaPlay(DBusGProxy* proxy, const char* id, const char* uri, int behaviour) {
  return remoteResult(proxy, kCallFailed, "play", G_TYPE_STRING, id, G_TYPE_STRING, uri, G_TYPE_INT, behaviour,
                      G_TYPE_INVALID);
}

gboolean multimediaPause(DBusGProxy* proxy, const char* id, int behaviour) {
  return remoteResult(proxy, kCallFailed, "pause", G_TYPE_STRING, id, G_TYPE_INT, behaviour, G_TYPE_INVALID);
}

gboolean multimediaStop(DBusGProxy* proxy, const char* id, int behaviour) {
  return remoteResult(proxy, kCallFailed, "stop", G_TYPE_STRING, id, G_TYPE_INT, behaviour, G_TYPE_INVALID);
}

gboolean multimediaResume(DBusGProxy* proxy, const char* id, int behaviour) {
  return remoteResult(proxy, kCallFailed, "resume", G_TYPE_STRING, id, G_TYPE_INT, behaviour, G_TYPE_INVALID);
}

gboolean multimediaRecord(DBusGProxy* proxy, const char* id, const char* path, int duration) {
  return remoteResult(proxy, kCallFailed, "record", G_TYPE_STRING, id, G_TYPE_STRING, path, G_TYPE_INT, duration,
                      G_TYPE_INVALID);
}

// "next" and "previous" take an id first, which these two always send empty.
gboolean multimediaNext(DBusGProxy* proxy, int behaviour) {
  return remoteResult(proxy, "Call to dbus_g_proxy_call failed!", "next", G_TYPE_STRING, "", G_TYPE_INT, behaviour,
                      G_TYPE_INVALID);
}

gboolean multimediaPrevious(DBusGProxy* proxy, int behaviour) {
  return remoteResult(proxy, kCallFailed, "previous", G_TYPE_STRING, "", G_TYPE_INT, behaviour, G_TYPE_INVALID);
}

gboolean multimediaGetArtist(DBusGProxy* proxy, char** artist) {
  return remoteStringResult(proxy, "get_artist", artist, G_TYPE_INVALID);
}

gboolean multimediaGetFolder(DBusGProxy* proxy, char** folder) {
  return remoteStringResult(proxy, "get_folder", folder, G_TYPE_INVALID);
}

gboolean multimediaGetPlaylist(DBusGProxy* proxy, char** playlist) {
  return remoteStringResult(proxy, "get_playlist", playlist, G_TYPE_INVALID);
}

gboolean multimediaGetGenre(DBusGProxy* proxy, char** genre) {
  return remoteStringResult(proxy, "get_genre", genre, G_TYPE_INVALID);
}

gboolean multimediaGetSong(DBusGProxy* proxy, char** song) {
  return remoteStringResult(proxy, "get_song", song, G_TYPE_INVALID);
}

gboolean controllerGetBatteryState(DBusGProxy* proxy, int* state) {
  if (proxy == NULL) return FALSE;
  int value = 0;
  gboolean result = FALSE;
  if (!call(proxy, kCallFailed, "get_battery_state", G_TYPE_INVALID, G_TYPE_INT, &value, G_TYPE_BOOLEAN, &result,
            G_TYPE_INVALID))
    return FALSE;
  give(state, value);
  return result ? TRUE : FALSE;
}

// The three controller calls below have no boolean result of their own: a completed call is TRUE.
gboolean controllerGetStatus(DBusGProxy* proxy, int* status1, int* status2, int* status3) {
  if (proxy == NULL) return FALSE;
  int values[3] = {0, 0, 0};
  if (!call(proxy, kCallFailed, "get_status", G_TYPE_INVALID, G_TYPE_INT, &values[0], G_TYPE_INT, &values[1],
            G_TYPE_INT, &values[2], G_TYPE_INVALID))
    return FALSE;
  give(status1, values[0]);
  give(status2, values[1]);
  give(status3, values[2]);
  return TRUE;
}

gboolean controllerTakeControl(DBusGProxy* proxy, gboolean* granted, char** token) {
  if (proxy == NULL) return FALSE;
  gboolean answer = FALSE;
  char* value = NULL;
  if (!call(proxy, kCallFailed, "take_control", G_TYPE_INVALID, G_TYPE_BOOLEAN, &answer, G_TYPE_STRING, &value,
            G_TYPE_INVALID))
    return FALSE;
  give(granted, answer);
  giveString(token, value);
  return TRUE;
}

gboolean controllerReleaseControl(DBusGProxy* proxy, const char* token) {
  if (proxy == NULL) return FALSE;
  return call(proxy, kCallFailed, "release_control", G_TYPE_STRING, token, G_TYPE_INVALID, G_TYPE_INVALID) ? TRUE
                                                                                                          : FALSE;
}

gboolean connmanGetState(DBusGProxy* proxy, char** state) {
  if (proxy == NULL) return FALSE;
  GType propertiesType = dbus_g_type_get_map("GHashTable", G_TYPE_STRING, G_TYPE_VALUE);
  GHashTable* properties = NULL;
  if (!call(proxy, kCallFailed, "GetProperties", G_TYPE_INVALID, propertiesType, &properties, G_TYPE_INVALID))
    return FALSE;
  // A "State" that is not a string is treated as missing: there is no state text to report.
  const GValue* value = static_cast<const GValue*>(g_hash_table_lookup(properties, "State"));
  char* text = NULL;
  gboolean result = FALSE;
  if (value != NULL && G_VALUE_HOLDS_STRING(value)) {
    text = g_strdup(g_value_get_string(value));
    result = TRUE;
  }
  giveString(state, text);
  g_hash_table_destroy(properties);
  return result;
}

gboolean choreographyLaunchScript(DBusGProxy* proxy, const char* script, char** answer, int behaviour) {
  return remoteStringResult(proxy, "launchScript", answer, G_TYPE_STRING, script, G_TYPE_INT, behaviour,
                            G_TYPE_INVALID);
}

gboolean webcamTakeSnapshot(DBusGProxy* proxy, const char* id, const char* path, int behaviour) {
  return remoteResult(proxy, kCallFailed, "takeSnapshot", G_TYPE_STRING, id, G_TYPE_STRING, path, G_TYPE_INT,
                      behaviour, G_TYPE_INVALID);
}

gboolean schedulerAddDateEntry(DBusGProxy* proxy, const char* id, int year, int month, int day, int hour, int minute,
                               int second) {
  return remoteResult(proxy, "Call to dbus_g_proxy_call add_date_entry failed", "add_date_entry", G_TYPE_STRING, id,
                      G_TYPE_INT, year, G_TYPE_INT, month, G_TYPE_INT, day, G_TYPE_INT, hour, G_TYPE_INT, minute,
                      G_TYPE_INT, second, G_TYPE_INVALID);
}

gboolean schedulerAddWeeklyEntry(DBusGProxy* proxy, const char* id, int day, int hour, int minute, int second) {
  return remoteResult(proxy, "Call to dbus_g_proxy_call add_weekly_entry failed", "add_weekly_entry", G_TYPE_STRING,
                      id, G_TYPE_INT, day, G_TYPE_INT, hour, G_TYPE_INT, minute, G_TYPE_INT, second, G_TYPE_INVALID);
}

gboolean schedulerAddPeriodicEntry(DBusGProxy* proxy, const char* id, int period, int count) {
  return remoteResult(proxy, "Call to dbus_g_proxy_call add_periodic_entry failed", "add_periodic_entry",
                      G_TYPE_STRING, id, G_TYPE_INT, period, G_TYPE_INT, count, G_TYPE_INVALID);
}

gboolean schedulerDeleteAllEntry(DBusGProxy* proxy) {
  return remoteResult(proxy, "Call to dbus_g_proxy_call delete_all_entry failed", "delete_all_entry", G_TYPE_INVALID);
}

gboolean schedulerDeleteEntry(DBusGProxy* proxy, const char* id) {
  return remoteResult(proxy, "Call to dbus_g_proxy_call delete_entry failed", "delete_entry", G_TYPE_STRING, id,
                      G_TYPE_INVALID);
}

gboolean t2tCanRing(DBusGProxy* proxy, gboolean canRing) {
  return remoteResult(proxy, kCallFailed, "t2t_can_ring", G_TYPE_BOOLEAN, canRing, G_TYPE_INVALID);
}

gboolean t2tCall(DBusGProxy* proxy, const char* peer) {
  return remoteResult(proxy, kCallFailed, "t2t_call", G_TYPE_STRING, peer, G_TYPE_INVALID);
}

gboolean t2tAnswear(DBusGProxy* proxy, gboolean accept) {
  return remoteResult(proxy, kCallFailed, "t2t_answear", G_TYPE_BOOLEAN, accept, G_TYPE_INVALID);
}

gboolean t2tHangup(DBusGProxy* proxy) {
  return remoteResult(proxy, kCallFailed, "t2t_hangup", G_TYPE_INVALID);
}

gboolean t2tUseAccount(DBusGProxy* proxy, const char* server, const char* user, const char* password,
                       const char* domain) {
  return remoteResult(proxy, kCallFailed, "t2t_use_account", G_TYPE_STRING, server, G_TYPE_STRING, user,
                      G_TYPE_STRING, password, G_TYPE_STRING, domain, G_TYPE_INVALID);
}

gboolean serialOpen(DBusGProxy* proxy, const char* port, int speed) {
  return remoteResult(proxy, kCallFailed, "open", G_TYPE_STRING, port, G_TYPE_INT, speed, G_TYPE_INVALID);
}

gboolean serialWrite(DBusGProxy* proxy, const char* port, const char* data, const char* mode) {
  return remoteResult(proxy, kCallFailed, "write", G_TYPE_STRING, port, G_TYPE_STRING, data, G_TYPE_STRING, mode,
                      G_TYPE_INVALID);
}

gboolean serialClose(DBusGProxy* proxy, const char* port) {
  return remoteResult(proxy, kCallFailed, "close", G_TYPE_STRING, port, G_TYPE_INVALID);
}

gboolean serialReadLineMode(DBusGProxy* proxy, const char* port, const char* mode) {
  return remoteResult(proxy, kCallFailed, "readlinemode", G_TYPE_STRING, port, G_TYPE_STRING, mode, G_TYPE_INVALID);
}

// The dock's LED answers the same methods as the device's LED, on its own proxy.
gboolean dockLedLight(DBusGProxy* proxy, const char* id, const char* color) { return ledLight(proxy, id, color); }

gboolean dockLedFade(DBusGProxy* proxy, const char* id, const char* color, int duration) {
  return ledFade(proxy, id, color, duration);
}

gboolean dockLedPulse(DBusGProxy* proxy, const char* id, const char* color1, const char* color2, int period,
                      int count) {
  return ledPulse(proxy, id, color1, color2, period, count);
}

gboolean dockMove(DBusGProxy* proxy, const char* id, int direction, int speed) {
  return remoteResult(proxy, kCallFailed, "move", G_TYPE_STRING, id, G_TYPE_INT, direction, G_TYPE_INT, speed,
                      G_TYPE_INVALID);
}

}  // extern "C"
