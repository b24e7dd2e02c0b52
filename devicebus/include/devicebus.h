/* devicebus: synchronous D-Bus calls to the device services and the voice daemon.
 * The caller opens the bus connection and owns every proxy; the library keeps no state.
 * Every call returns a gboolean; a failed call prints one line on standard output (earsReset
 * excepted) and a NULL proxy gives FALSE at once. */
#ifndef DEVICEBUS_H
#define DEVICEBUS_H

#include <dbus/dbus-glib.h>
#include <glib.h>

#define DEVICEBUS_API __attribute__((visibility("default")))

#ifdef __cplusplus
extern "C" {
#endif

/* Proxy set-up by module number (0 to 14: the sections below name them; 2 Rss and 5 Button get a
 * proxy but have no calls), error reporting, and the text utilities. */
DEVICEBUS_API gboolean dbus_load_proxy(DBusGProxy **proxy, int module, DBusGConnection *connection);
DEVICEBUS_API void handleError(const char *text, GError *error, gboolean fatal);
DEVICEBUS_API void die(const char *text, GError *error) G_GNUC_NORETURN;
DEVICEBUS_API void toLower(char *text);
DEVICEBUS_API gboolean generateUuid(char *buf);

/* Led (module 0). */
DEVICEBUS_API gboolean ledLight(DBusGProxy *proxy, const char *id, const char *color);
DEVICEBUS_API gboolean ledFade(DBusGProxy *proxy, const char *id, const char *color, int duration);
DEVICEBUS_API gboolean ledPulse(DBusGProxy *proxy, const char *id, const char *color1, const char *color2,
                                int period, int count);

/* Ears (module 1). */
DEVICEBUS_API gboolean earsReset(DBusGProxy *proxy, const char *id, const char *mode);
DEVICEBUS_API gboolean earsMove(DBusGProxy *proxy, const char *id, int left, int right, int speed, int wait);
DEVICEBUS_API gboolean earsMoveLeft(DBusGProxy *proxy, const char *id, int position, int speed);
DEVICEBUS_API gboolean earsMoveRight(DBusGProxy *proxy, const char *id, int position, int speed);
DEVICEBUS_API gboolean earsMoveStep(DBusGProxy *proxy, const char *id, int left, int right, int speed, int wait);
DEVICEBUS_API gboolean earsMoveLeftStep(DBusGProxy *proxy, const char *id, int steps, int speed);
DEVICEBUS_API gboolean earsMoveRightStep(DBusGProxy *proxy, const char *id, int steps, int speed);

/* Voice (module 3): the voice daemon. */
DEVICEBUS_API gboolean ttsSpeak(DBusGProxy *proxy, const char *id, const char *text, const char *lang, int behaviour);
DEVICEBUS_API gboolean ttsStop(DBusGProxy *proxy, const char *id, int behaviour);
DEVICEBUS_API gboolean asrStartFile(DBusGProxy *proxy, const char *uid, const char *filename, int behaviour);
DEVICEBUS_API gboolean asrStartString(DBusGProxy *proxy, const char *uid, const char *grammar, const char *lang,
                                      int behaviour);
DEVICEBUS_API gboolean asrStop(DBusGProxy *proxy, const char *id, int behaviour);

/* Rfid (module 4). The out-string belongs to the caller (g_free). */
DEVICEBUS_API gboolean rfidGetTags(DBusGProxy *proxy, char **tags);

/* Multimedia (module 6). Out-strings belong to the caller (g_free). */
DEVICEBUS_API gboolean multimediaPlay(DBusGProxy *proxy, const char *id, const char *uri, int behaviour);
DEVICEBUS_API gboolean multimediaPause(DBusGProxy *proxy, const char *id, int behaviour);
DEVICEBUS_API gboolean multimediaStop(DBusGProxy *proxy, const char *id, int behaviour);
DEVICEBUS_API gboolean multimediaResume(DBusGProxy *proxy, const char *id, int behaviour);
DEVICEBUS_API gboolean multimediaRecord(DBusGProxy *proxy, const char *id, const char *path, int duration);
DEVICEBUS_API gboolean multimediaNext(DBusGProxy *proxy, int behaviour);
DEVICEBUS_API gboolean multimediaPrevious(DBusGProxy *proxy, int behaviour);
DEVICEBUS_API gboolean multimediaGetArtist(DBusGProxy *proxy, char **artist);
DEVICEBUS_API gboolean multimediaGetFolder(DBusGProxy *proxy, char **folder);
DEVICEBUS_API gboolean multimediaGetPlaylist(DBusGProxy *proxy, char **playlist);
DEVICEBUS_API gboolean multimediaGetGenre(DBusGProxy *proxy, char **genre);
DEVICEBUS_API gboolean multimediaGetSong(DBusGProxy *proxy, char **song);

/* Controller (module 7). */
DEVICEBUS_API gboolean controllerGetBatteryState(DBusGProxy *proxy, int *state);
DEVICEBUS_API gboolean controllerGetStatus(DBusGProxy *proxy, int *status1, int *status2, int *status3);
DEVICEBUS_API gboolean controllerTakeControl(DBusGProxy *proxy, gboolean *granted, char **token);
DEVICEBUS_API gboolean controllerReleaseControl(DBusGProxy *proxy, const char *token);

/* ConnMan manager (module 8): the "State" property; the string belongs to the caller. */
DEVICEBUS_API gboolean connmanGetState(DBusGProxy *proxy, char **state);

/* Choreography_manager (module 9): in-string, out-string, in-int. */
DEVICEBUS_API gboolean choreographyLaunchScript(DBusGProxy *proxy, const char *script, char **answer, int behaviour);

/* Webcam (module 10). */
DEVICEBUS_API gboolean webcamTakeSnapshot(DBusGProxy *proxy, const char *id, const char *path, int behaviour);

/* Scheduler (module 11). */
DEVICEBUS_API gboolean schedulerAddDateEntry(DBusGProxy *proxy, const char *id, int year, int month, int day,
                                             int hour, int minute, int second);
DEVICEBUS_API gboolean schedulerAddWeeklyEntry(DBusGProxy *proxy, const char *id, int day, int hour, int minute,
                                               int second);
DEVICEBUS_API gboolean schedulerAddPeriodicEntry(DBusGProxy *proxy, const char *id, int period, int count);
DEVICEBUS_API gboolean schedulerDeleteAllEntry(DBusGProxy *proxy);
DEVICEBUS_API gboolean schedulerDeleteEntry(DBusGProxy *proxy, const char *id);

/* T2t (module 12). */
DEVICEBUS_API gboolean t2tCanRing(DBusGProxy *proxy, gboolean canRing);
DEVICEBUS_API gboolean t2tCall(DBusGProxy *proxy, const char *peer);
DEVICEBUS_API gboolean t2tAnswear(DBusGProxy *proxy, gboolean accept);
DEVICEBUS_API gboolean t2tHangup(DBusGProxy *proxy);
DEVICEBUS_API gboolean t2tUseAccount(DBusGProxy *proxy, const char *server, const char *user, const char *password,
                                     const char *domain);

/* Serial (module 13). */
DEVICEBUS_API gboolean serialOpen(DBusGProxy *proxy, const char *port, int speed);
DEVICEBUS_API gboolean serialWrite(DBusGProxy *proxy, const char *port, const char *data, const char *mode);
DEVICEBUS_API gboolean serialClose(DBusGProxy *proxy, const char *port);
DEVICEBUS_API gboolean serialReadLineMode(DBusGProxy *proxy, const char *port, const char *mode);

/* Dock (module 14). */
DEVICEBUS_API gboolean dockLedLight(DBusGProxy *proxy, const char *id, const char *color);
DEVICEBUS_API gboolean dockLedFade(DBusGProxy *proxy, const char *id, const char *color, int duration);
DEVICEBUS_API gboolean dockLedPulse(DBusGProxy *proxy, const char *id, const char *color1, const char *color2,
                                    int period, int count);
DEVICEBUS_API gboolean dockMove(DBusGProxy *proxy, const char *id, int direction, int speed);

#ifdef __cplusplus
}
#endif

#endif
