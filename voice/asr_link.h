// Socket glue of the recognition server link: one frame out, one frame in. Both log their steps
// in GLib's default domain.
//
// The socket stays a blocking one, but a stalled server must not hold the daemon's one main loop:
// once a frame's first byte is in, the rest must follow within the frame deadline, and a frame
// must go out within the send deadline; past that the call fails with errno ETIMEDOUT. The
// deadlines are the platform's (platform.h) unless a test sets its own.
#pragma once

#include "asr-message.pb.h"

// 0 when the whole frame went out, -1 when a send failed or the send deadline passed (errno
// tells which; what was sent stays sent).
int sendAsrMsg(int socket, const net::zolvek::asr::message::AsrMsg &message);

// The next message read from the socket, owned by the caller, or null when the read failed, the
// peer closed the connection, the frame was longer than the link allows or its rest did not
// arrive within the frame deadline. Waits without limit for the frame's first byte: the daemon
// calls it once the socket is readable.
net::zolvek::asr::message::AsrMsg *getNuskMsg(int socket);

struct AsrLinkDeadlines {
  int frame_ms;
  int send_ms;
};
// Replaces the deadlines for in-process tests; null goes back to the platform's.
void setAsrLinkDeadlines(const AsrLinkDeadlines *deadlines);
