// Speech recognition sessions: connect to one of the configured servers, open the capture
// device, send the grammar, then pump 128 ms of audio per idle pass until the server's one
// answer, a lost connection or a cancel. Outcomes reach clients as the asr_event signal.
#include "asr.h"

#include <errno.h>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <poll.h>
#include <stdio.h>
#include <string.h>
#include <sys/select.h>
#include <sys/socket.h>
#include <sys/soundcard.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <cstdlib>
#include <memory>

#include "asr-message.pb.h"
#include "asr_internal.h"
#include "asr_link.h"
#include "audio_device.h"
#include "platform.h"

using net::zolvek::asr::message::AsrMsg;
using net::zolvek::asr::message::OK;

namespace {

const char kGroup[] = "asr";
constexpr size_t kCaptureBytes = 2048;  // 128 ms at 16000 samples a second
constexpr long kWaitMicroseconds = 2000;
constexpr off_t kMaxGrammarFile = 1 << 20;

// The texts come from the server as it sent them; D-Bus takes only UTF-8 and ends the process
// on anything else, so invalid sequences become U+FFFD. Valid text goes out unchanged.
void emitAsrEvent(VoiceObject *self, const char *text, const char *detail, int value) {
  gchar *validText = g_utf8_make_valid(text, -1);
  gchar *validDetail = g_utf8_make_valid(detail, -1);
  g_signal_emit(self, VOICE_OBJECT_GET_CLASS(self)->asr_event, 0, self->asr_uid->str, validText,
                validDetail, value);
  g_free(validText);
  g_free(validDetail);
}

// Reads the host of the current index; a missing key leaves no host, which connecting then
// treats as a failed look-up.
void loadServer(VoiceObject *self) {
  gchar *key = g_strdup_printf("server%d", self->asr_server_index);
  g_debug("using server %s", key);
  g_free(self->asr_server);
  self->asr_server = g_key_file_get_string(self->conf_file, kGroup, key, nullptr);
  g_debug("asrServer %s", self->asr_server != nullptr ? self->asr_server : "(null)");
  g_free(key);
}

int readInteger(GKeyFile *conf, const char *key) {
  GError *error = nullptr;
  const int value = g_key_file_get_integer(conf, kGroup, key, &error);
  if (error != nullptr) {
    g_error_free(error);
    return 0;
  }
  return value;
}

void closeAudio(VoiceObject *self) {
  if (self->audio_fd != 0) audioDevice().close(self->audio_fd);
  self->audio_fd = 0;
}

// An utterance's child, forked during a session, holds a copy of the socket until it ends:
// shutdown ends the connection for the server now, whoever else still holds it.
void closeSocket(VoiceObject *self) {
  if (self->asr_socket != 0) {
    shutdown(self->asr_socket, SHUT_RDWR);
    close(self->asr_socket);
  }
  self->asr_socket = 0;
}

// A start that failed after the busy test: nothing stays open, and clients learn of it.
int failStart(VoiceObject *self, int code) {
  closeSocket(self);
  closeAudio(self);
  emitAsrEvent(self, "<error_server_timeout>", "cancel", 2);
  return code;
}

// A blocking connect that a signal interrupts goes on in the background: wait for its outcome
// rather than take the interruption for a refusal.
bool connectBlocking(int sock, const struct sockaddr_in &address) {
  if (connect(sock, reinterpret_cast<const struct sockaddr *>(&address), sizeof address) == 0) {
    return true;
  }
  if (errno != EINTR) return false;
  struct pollfd writable = {sock, POLLOUT, 0};
  int r;
  while ((r = poll(&writable, 1, -1)) < 0 && errno == EINTR) {
  }
  int error = 0;
  socklen_t length = sizeof error;
  if (r < 0 || getsockopt(sock, SOL_SOCKET, SO_ERROR, &error, &length) != 0) return false;
  errno = error;
  return error == 0;
}

// Any client may name any path: only a regular file of at most kMaxGrammarFile bytes is read. The
// open must not block (a FIFO) nor hand the descriptor to an utterance's player.
bool readGrammarFile(const char *filename, std::string *text) {
  const int fd = open(filename, O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
  if (fd < 0) return false;
  struct stat file;
  bool fits = fstat(fd, &file) == 0 && S_ISREG(file.st_mode) && file.st_size <= kMaxGrammarFile;
  char block[100];
  // A read error ends the text like the end of the file; a file that grew past the limit while
  // it was read is refused like one that was too long from the start.
  while (fits) {
    const ssize_t n = read(fd, block, sizeof block);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    text->append(block, static_cast<size_t>(n));
    fits = text->size() <= static_cast<size_t>(kMaxGrammarFile);
  }
  close(fd);
  return fits;
}

// A frame that could not go out in time leaves the stream cut inside a frame, to a server that
// is not reading: the connection is ended here, so that the pump finds it lost at once.
void sendToServer(VoiceObject *self, const AsrMsg &message) {
  if (sendAsrMsg(self->asr_socket, message) != 0 && errno == ETIMEDOUT) {
    shutdown(self->asr_socket, SHUT_RDWR);
  }
}

}  // namespace

int asrInit(VoiceObject *self) {
  self->asr_socket = 0;
  if (self->asr_uid == nullptr) self->asr_uid = g_string_sized_new(40);
  self->asr_port = readInteger(self->conf_file, "port");
  g_debug("port %d", self->asr_port);
  self->nbserver = readInteger(self->conf_file, "nbserver");
  g_debug("nbserver %d", self->nbserver);
  // A negative count is refused like none: it could never be connected to.
  if (self->nbserver > 0) asrPickServer(self);
  if (self->asr_server == nullptr) {
    g_debug("no server in voice.conf found");
    return 3;
  }
  return 0;
}

void asrPickServer(VoiceObject *self) {
  srand(static_cast<unsigned>(time(nullptr)));
  self->asr_server_index = rand() % self->nbserver;
  loadServer(self);
}

void asrNextServer(VoiceObject *self) {
  self->asr_server_index = (self->asr_server_index + 1) % self->nbserver;
  loadServer(self);
}

int asrConnect(VoiceObject *self) {
  for (int attempt = 1;; ++attempt) {
    g_debug("try connection %d/%d", attempt, self->nbserver);
    if (attempt > self->nbserver) return -1;
    // Not for the player that an utterance runs.
    const int sock = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (sock < 0) {
      g_warning("connect failed on '%s:%d' : %s",
                self->asr_server != nullptr ? self->asr_server : "", self->asr_port, strerror(errno));
    } else {
      self->asr_socket = sock;
      const struct hostent *host =
          self->asr_server != nullptr ? gethostbyname(self->asr_server) : nullptr;
      if (host == nullptr || host->h_addrtype != AF_INET || host->h_addr_list[0] == nullptr) {
        g_debug("nslookup failed on '%s'", self->asr_server != nullptr ? self->asr_server : "");
      } else {
        struct sockaddr_in address = {};
        address.sin_family = AF_INET;
        address.sin_port = htons(static_cast<uint16_t>(self->asr_port & 0xffff));
        memcpy(&address.sin_addr, host->h_addr_list[0], sizeof address.sin_addr);
        if (connectBlocking(sock, address)) return 0;
        g_warning("connect failed on '%s:%d' : %s", self->asr_server, self->asr_port,
                  strerror(errno));
      }
      closeSocket(self);
    }
    asrNextServer(self);
  }
}

int asrSetupDsp(int fd) {
  const AudioDevice &device = audioDevice();
  int value = 0;
  if (device.control(fd, SNDCTL_DSP_RESET, &value) == -1) {
    g_warning("Unable to reset OSS driver.");
    return -1;
  }
  value = AFMT_MU_LAW;
  if (device.control(fd, SNDCTL_DSP_SETFMT, &value) == -1) {
    g_warning("Unable to set format");
    return -2;
  }
  g_debug("accepted format=%d\n", value);
  value = 0;
  fprintf(stderr, "expected stereo=%d\n", value);
  if (device.control(fd, SNDCTL_DSP_STEREO, &value) == -1) return -3;
  g_debug("accepted stereo=%d\n", value);
  value = 16000;
  if (device.control(fd, SNDCTL_DSP_SPEED, &value) == -1) return -4;
  g_debug("speed=%d\n", value);
  // The device may settle on other values; they are only logged.
  return 0;
}

std::string asrGrammarText(const char *grammar, const char *lang) {
  const char *g = grammar != nullptr ? grammar : "";
  // "http" wholly within the first 10 bytes: it starts at 0..6, and the search stops at the end.
  for (size_t i = 0; i + 4 <= 10 && g[i] != '\0'; ++i) {
    if (strncmp(g + i, "http", 4) == 0) return g;
  }
  std::string text = "#ABNF 1.0 UTF-8;\r\nlanguage ";
  text += lang != nullptr ? lang : "";
  text += ";\r\nmode voice;\r\ntag-format <semantics/1.0>;\r\nroot $App;\r\npublic $App = ";
  text += g;
  text += ";\r\n";
  return text;
}

std::string asrDecimate(const unsigned char *captured, size_t size) {
  std::string out(size / 2, '\0');
  for (size_t i = 0; i < out.size(); ++i) out[i] = static_cast<char>(captured[2 * i]);
  return out;
}

int asrStartSession(VoiceObject *self, const char *uid, const char *grammar, const char *lang,
                    const char *filename) {
  g_debug("ASR Go\n");
  if (self->asr_socket != 0) {
    g_debug("asr session already present\n");
    return -1;
  }
  g_string_assign(self->asr_uid, uid != nullptr ? uid : "");
  g_debug("ASR uuid %s\n", self->asr_uid->str);

  if (asrConnect(self) != 0) {
    g_debug("asr server connection FAIL");
    return failStart(self, -2);
  }
  const int fd = audioDevice().open(voicePlatform().audio_device);
  if (fd < 0) {
    g_debug("asr server cant open /dev/audio");
    return failStart(self, -3);
  }
  self->audio_fd = fd;
  if (asrSetupDsp(self->audio_fd) != 0) {
    g_debug("asr server cant set /dev/audio parameters");
    return failStart(self, -3);
  }

  AsrMsg message;
  if (filename != nullptr) {
    if (!readGrammarFile(filename, message.mutable_grammar())) {
      g_debug("asr server can't open %s\n", filename);
      return failStart(self, -6);
    }
  } else {
    message.set_grammar(asrGrammarText(grammar, lang));
  }
  // A failed send shows up later, when the pump finds the connection gone.
  sendToServer(self, message);

  self->asr_idle_id = g_idle_add(asrAudioCallback, self);
  return 0;
}

int asrWaitSocket(VoiceObject *self) {
  struct timeval timeout = {0, kWaitMicroseconds};
  for (;;) {
    fd_set readable;
    FD_ZERO(&readable);
    FD_SET(self->asr_socket, &readable);
    // Linux leaves the time not yet waited in timeout, so a signal (an utterance's child
    // ending) costs nothing: the wait goes on for the rest of its 2 ms.
    const int r = select(self->asr_socket + 1, &readable, nullptr, nullptr, &timeout);
    if (r < 0 && errno == EINTR) continue;
    if (r < 0) {
      g_debug("Failed to select socket :(");
      return -1;
    }
    return r > 0 ? 0 : 1;
  }
}

gboolean asrAudioCallback(gpointer data) {
  VoiceObject *self = static_cast<VoiceObject *>(data);
  unsigned char captured[kCaptureBytes];
  bool lost = false;
  std::unique_ptr<AsrMsg> reply;

  // Only whole buffers go out: the end of the capture, or its failure, loses the session.
  if (!audioReadFull(self->audio_fd, captured, sizeof captured)) {
    g_debug("audio capture failed");
    lost = true;
  } else {
    AsrMsg audio;
    audio.set_audio(asrDecimate(captured, sizeof captured));
    sendToServer(self, audio);
    const int wait = asrWaitSocket(self);
    if (wait == 1) return TRUE;
    if (wait == -1) {
      g_debug("dead socket");
    } else {
      reply.reset(getNuskMsg(self->asr_socket));
    }
    lost = reply == nullptr;
  }

  if (lost) {
    emitAsrEvent(self, "<nomatch>", "connection lost", 2);
  } else {
    if (reply->has_response()) {
      const auto &response = reply->response();
      if (response.code() == OK) {
        g_debug("emit ok");
        emitAsrEvent(self, response.words().c_str(), response.semantic().c_str(), response.score());
      } else {
        g_debug("emit fail");
        emitAsrEvent(self, "<nomatch>", response.words().c_str(), 2);
      }
    }
    g_debug("emit done");
    reply.reset();
  }
  closeAudio(self);
  g_debug("close sock");
  closeSocket(self);
  return FALSE;
}

int asrCancel(VoiceObject *self) {
  g_debug("asrCancel CANCEL");
  if (self->asr_socket == 0) return 0;
  closeAudio(self);
  closeSocket(self);
  // Closing the connection is the cancellation: the server is told nothing else.
  g_source_remove(self->asr_idle_id);
  return 0;
}
