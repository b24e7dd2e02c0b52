// Text-to-speech worker: one utterance at a time. A child process posts the SSML fragment to the
// language's web service and pipes the answer into the player; a child watch, or a stop, ends
// the utterance with tts_event (id, 4).
#include "tts.h"

#include <curl/curl.h>
#include <errno.h>
#include <signal.h>
#include <stdio.h>
#include <string.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <syslog.h>
#include <unistd.h>

#include "platform.h"

namespace {

const int kTtsEventEnded = 4;

void emitTtsEvent(VoiceObject *voice) {
  g_signal_emit(voice, VOICE_OBJECT_GET_CLASS(voice)->tts_event, 0, voice->tts_id->str,
                kTtsEventEnded);
}

// The child only speaks, so it keeps none of the daemon's descriptors but the standard ones: not
// the bus connection (a daemon killed mid-utterance would stay the owner of its name until the
// utterance ended), nor a recognition session's connection and capture device.
void leaveTheDaemonsDescriptors() {
  // A SIGCHLD handler of GLib's (child watches without pidfd) writes to one of the descriptors
  // closed below, whose number the player's pipe or the request may take next.
  signal(SIGCHLD, SIG_DFL);
  // The C library must forget its log connection before it is closed: it would later close
  // that number again, whatever then holds it. closelog also forgets the identity, so syslog
  // is opened again as the daemon opened it.
  closelog();
  if (close_range(3, ~0U, 0) != 0) {
    // A kernel without close_range.
    const long top = sysconf(_SC_OPEN_MAX);
    for (long fd = 3; fd < top; ++fd) close(static_cast<int>(fd));
  }
  openlog(VOICE_LOG_IDENT, LOG_PID | LOG_CONS | LOG_NDELAY, LOG_LOCAL1);
}

// What the child inherits of the daemon's signal handling must not decide how it ends: a stop's
// SIGTERM ends it even when the daemon was started with SIGTERM ignored or blocked, and the
// child ends with the daemon, which alone could stop it. `daemon` is the pid before the fork.
// SIGPIPE stays ignored, as in the daemon: the child logs on the same standard output.
void takeDefaultSignals(pid_t daemon) {
  signal(SIGTERM, SIG_DFL);
  sigset_t none;
  sigemptyset(&none);
  sigprocmask(SIG_SETMASK, &none, nullptr);
  prctl(PR_SET_PDEATHSIG, SIGKILL);
  if (getppid() != daemon) _exit(1);  // the daemon died before the line above
}

// The child must not run the daemon's atexit handlers nor flush copies of its buffers.
[[noreturn]] void leaveChild(int status) {
  fflush(nullptr);
  _exit(status);
}

[[noreturn]] void speakInChild(const char *url, const char *text) {
  CURL *curl = curl_easy_init();
  if (!curl) leaveChild(-2);
  // The player starts with SIGPIPE's default action. The child itself ignores it again at once:
  // a player that ends early must fail the transfer, not kill the child.
  signal(SIGPIPE, SIG_DFL);
  FILE *player = popen(voicePlatform().player_command, "w");
  signal(SIGPIPE, SIG_IGN);
  if (!player) leaveChild(-1);
  g_debug("tts url : %s", url);
  gchar *body =
      g_strdup_printf("<s><break time=\"200ms\" />%s<break time=\"150ms\" /></s>", text);
  curl_easy_setopt(curl, CURLOPT_URL, url);
  curl_easy_setopt(curl, CURLOPT_POSTFIELDS, body);
  curl_easy_setopt(curl, CURLOPT_POSTFIELDSIZE, static_cast<long>(strlen(body)));
  curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, fwrite);
  curl_easy_setopt(curl, CURLOPT_WRITEDATA, player);
  curl_easy_perform(curl);
  curl_easy_cleanup(curl);
  g_free(body);
  pclose(player);
  leaveChild(0);
}

// waitpid for `pid` until `deadline` (monotonic microseconds; -1 for none): its result, or 0
// when the child was still running at the deadline.
pid_t waitForChild(pid_t pid, gint64 deadline, int *status) {
  for (;;) {
    const pid_t waited = waitpid(pid, status, deadline < 0 ? 0 : WNOHANG);
    if (waited < 0 && errno == EINTR) continue;
    if (waited != 0) return waited;
    if (g_get_monotonic_time() >= deadline) return 0;
    g_usleep(1000);
  }
}

}  // namespace

int ttsInit(VoiceObject *voice) {
  voice->tts_id = g_string_sized_new(40);
  voice->pid = 0;
  voice->tts_watch_id = 0;
  return 0;
}

int ttsPlay(VoiceObject *voice, const char *id, const char *text, const char *lang) {
  if (voice->pid != 0) return TTS_BUSY;
  g_string_assign(voice->tts_id, id);
  if (strnlen(lang, 3) < 2) {
    g_debug("wrong lang (%s)", lang);
    return TTS_WRONG_LANG;
  }
  const char key[3] = {g_ascii_tolower(lang[0]), g_ascii_tolower(lang[1]), '\0'};
  gchar *url = g_key_file_get_string(voice->conf_file, "tts", key, nullptr);
  if (!url) {
    g_debug("wrong lang (%s)", lang);
    return TTS_WRONG_LANG;
  }

  fflush(nullptr);
  const pid_t daemon = getpid();
  const pid_t pid = fork();
  if (pid == 0) {
    takeDefaultSignals(daemon);
    leaveTheDaemonsDescriptors();
  }
  g_debug("TTS FORK ##### id:%d", pid);
  if (pid < 0) {
    // Keep pid 0: a -1 here would make every later speak "busy" and a stop signal everyone.
    g_free(url);
    return TTS_NO_CHILD;
  }
  if (pid == 0) speakInChild(url, text);
  voice->pid = pid;
  g_debug("TTS FORK ##### id:%d", pid);
  voice->tts_watch_id = g_child_watch_add(pid, ttsPidCallBack, voice);
  g_free(url);
  return 0;
}

void ttsPidCallBack(GPid pid, gint status, gpointer object) {
  VoiceObject *voice = VOICE_OBJECT(object);
  g_debug("TTS TUE FILS Gpid : %d", pid);
  g_debug("TTS TUE FILS voice->pid : %d", voice->pid);
  voice->pid = 0;
  g_debug("%s %d", "ttsPidCallBack", status);
  emitTtsEvent(voice);
}

void ttsCancel(VoiceObject *voice) {
  if (voice->pid == 0) return;
  g_debug("TTS CANCEL pid:%d", voice->pid);
  // Removed first, so that the watch cannot report this child a second time.
  g_source_remove(voice->tts_watch_id);
  voice->tts_watch_id = 0;
  if (system(voicePlatform().kill_player_command) != 0) {
    // killall finding no player is normal: the child may not have started it yet.
  }
  // SIGCONT too: a stopped child would not act on SIGTERM until something continued it.
  kill(voice->pid, SIGTERM);
  kill(voice->pid, SIGCONT);
  // Wait for this child only; the main loop's child handling may already have reaped it, in
  // which case waitpid reports -1 at once. A child still there after the grace is killed.
  int status = 0;
  const int grace_ms = voicePlatform().stop_grace_ms;
  pid_t waited = waitForChild(voice->pid, g_get_monotonic_time() + gint64{grace_ms} * 1000, &status);
  if (waited == 0) {
    g_warning("speech child %d still there %d ms after SIGTERM: killed", voice->pid, grace_ms);
    kill(voice->pid, SIGKILL);
    waited = waitForChild(voice->pid, -1, &status);
  }
  g_debug("TTS CANCEL pid wait: %d", waited);
  g_debug("TTS CANCEL status: %d", status);
  voice->pid = 0;
  emitTtsEvent(voice);
}
