// Socket glue of the recognition server link (see asr_link.h). Framing itself is asr_frame.cc's;
// here are the loops over send and recv, their deadlines and the log lines.
#include "asr_link.h"

#include <errno.h>
#include <poll.h>
#include <string.h>
#include <sys/socket.h>
#include <sys/types.h>

#include <glib.h>

#include <cstdlib>
#include <string>

#include "asr_frame.h"
#include "platform.h"

using net::zolvek::asr::message::AsrMsg;

namespace {

const AsrLinkDeadlines *override = nullptr;

AsrLinkDeadlines deadlines() {
  if (override != nullptr) return *override;
  return {voicePlatform().frame_deadline_ms, voicePlatform().send_deadline_ms};
}

gint64 after(int ms) { return g_get_monotonic_time() + static_cast<gint64>(ms) * 1000; }

// Waits until the socket is ready for `events` (or has an error or hang-up, which the next call
// on it reports). false with errno ETIMEDOUT once the deadline has passed.
bool waitReady(int socket, short events, gint64 deadline) {
  for (;;) {
    const gint64 left = deadline - g_get_monotonic_time();
    if (left <= 0) {
      errno = ETIMEDOUT;
      return false;
    }
    struct pollfd ready = {socket, events, 0};
    const int r = poll(&ready, 1, static_cast<int>((left + 999) / 1000));
    if (r > 0) return true;
    if (r < 0 && errno != EINTR) return false;
  }
}

// The frame's deadline starts with its first byte; until then the read blocks.
struct FrameClock {
  gint64 deadline = 0;
};

// Reads exactly size bytes. false on an error, when the peer closed the connection first, or
// when the frame's deadline passed; errno then tells why (ECONNRESET for a close).
bool recvAll(int socket, void *buffer, size_t size, FrameClock *clock) {
  size_t got = 0;
  while (got < size) {
    const bool begun = clock->deadline != 0;
    const ssize_t r =
        recv(socket, static_cast<char *>(buffer) + got, size - got, begun ? MSG_DONTWAIT : 0);
    if (r > 0) {
      if (!begun) clock->deadline = after(deadlines().frame_ms);
      got += static_cast<size_t>(r);
      continue;
    }
    if (r == 0) {
      errno = ECONNRESET;
      return false;
    }
    if (errno == EINTR) continue;
    if (errno != EAGAIN && errno != EWOULDBLOCK) return false;
    if (!waitReady(socket, POLLIN, clock->deadline)) return false;
  }
  return true;
}

}  // namespace

void setAsrLinkDeadlines(const AsrLinkDeadlines *deadlines) { override = deadlines; }

int sendAsrMsg(int socket, const AsrMsg &message) {
  const std::string frame = asrframe::encode(message);
  const gint64 deadline = after(deadlines().send_ms);
  size_t sent = 0;
  while (sent < frame.size()) {
    if (sent > 0) g_debug("send retry %d", static_cast<int>(sent));
    // MSG_NOSIGNAL: a server that reset the connection must not kill the daemon with SIGPIPE.
    const ssize_t r = send(socket, frame.data() + sent, frame.size() - sent,
                           MSG_NOSIGNAL | MSG_DONTWAIT);
    if (r >= 0) {
      sent += static_cast<size_t>(r);
      continue;
    }
    if (errno == EINTR) continue;
    if ((errno != EAGAIN && errno != EWOULDBLOCK) || !waitReady(socket, POLLOUT, deadline)) {
      const int error = errno;
      g_debug("send failed: %s", strerror(error));
      errno = error;
      return -1;
    }
  }
  return 0;
}

AsrMsg *getNuskMsg(int socket) {
  g_debug("getNuskMsg on sock %d\n", socket);
  FrameClock clock;
  unsigned char header[asrframe::kHeaderSize];
  if (!recvAll(socket, header, sizeof header, &clock)) {
    g_warning("Failed to receive bytes from server: %s", strerror(errno));
    return nullptr;
  }
  const uint32_t n = asrframe::decodeLength(header);
  if (n > asrframe::kMaxPayload) {
    g_warning("Failed to receive bytes message from server: %s", strerror(EMSGSIZE));
    return nullptr;
  }
  // malloc(0) may answer null; one spare byte keeps "no memory" and "empty frame" apart.
  void *body = malloc(n + 1);
  if (body == nullptr) {
    g_warning("Failed to receive bytes message from server: %s", strerror(ENOMEM));
    return nullptr;
  }
  if (!recvAll(socket, body, n, &clock)) {
    g_warning("Failed to receive bytes message from server: %s", strerror(errno));
    free(body);
    return nullptr;
  }
  AsrMsg *message = asrframe::decodePayload(body, n).release();
  g_debug("message received:\n%s", message->DebugString().c_str());
  free(body);
  return message;
}
