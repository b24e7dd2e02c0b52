// Blocking socket glue of the recognition server link (see asr_link.h). Framing itself is
// asr_frame.cc's; here are the loops over send and recv and the log lines.
#include "asr_link.h"

#include <errno.h>
#include <string.h>
#include <sys/socket.h>
#include <sys/types.h>

#include <glib.h>

#include <cstdlib>
#include <string>

#include "asr_frame.h"

using net::zolvek::asr::message::AsrMsg;

int sendAsrMsg(int socket, const AsrMsg &message) {
  const std::string frame = asrframe::encode(message);
  size_t sent = 0;
  while (sent < frame.size()) {
    if (sent > 0) g_debug("send retry %d", static_cast<int>(sent));
    // MSG_NOSIGNAL: a server that reset the connection must not kill the daemon with SIGPIPE.
    const ssize_t r = send(socket, frame.data() + sent, frame.size() - sent, MSG_NOSIGNAL);
    if (r < 0) {
      if (errno == EINTR) continue;
      g_debug("send failed: %s", strerror(errno));
      return -1;
    }
    sent += static_cast<size_t>(r);
  }
  return 0;
}

namespace {

// Reads exactly size bytes. false on an error or when the peer closed the connection first;
// errno then tells why (ECONNRESET for a close).
bool recvAll(int socket, void *buffer, size_t size) {
  size_t got = 0;
  while (got < size) {
    const ssize_t r = recv(socket, static_cast<char *>(buffer) + got, size - got, 0);
    if (r < 0 && errno == EINTR) continue;
    if (r <= 0) {
      if (r == 0) errno = ECONNRESET;
      return false;
    }
    got += static_cast<size_t>(r);
  }
  return true;
}

}  // namespace

AsrMsg *getNuskMsg(int socket) {
  g_debug("getNuskMsg on sock %d\n", socket);
  unsigned char header[asrframe::kHeaderSize];
  if (!recvAll(socket, header, sizeof header)) {
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
  if (!recvAll(socket, body, n)) {
    g_warning("Failed to receive bytes message from server: %s", strerror(errno));
    free(body);
    return nullptr;
  }
  AsrMsg *message = asrframe::decodePayload(body, n).release();
  g_debug("message received:\n%s", message->DebugString().c_str());
  free(body);
  return message;
}
