/* tobrel-common: routes a daemon's GLib logging to syslog under a threshold that the daemon
 * owns, and echoes the messages on standard output. */
#ifndef TOBREL_COMMON_H
#define TOBREL_COMMON_H

#include <glib.h>

#ifdef __cplusplus
extern "C" {
#endif

/* Opens syslog with `ident` (kept by openlog: it must outlive all logging) on LOG_LOCAL1 and
 * installs g_log_handler as GLib's default handler. `threshold` points at the caller's syslog
 * priority limit (0..7); it is read again for every message, so it must stay alive. */
void init_tobrel_log(const char *ident, gint *threshold);

/* The GLib log function installed above; user_data is the threshold pointer. */
void g_log_handler(const gchar *log_domain, GLogLevelFlags log_level, const gchar *message,
                   gpointer user_data);

#ifdef __cplusplus
}
#endif

#endif
