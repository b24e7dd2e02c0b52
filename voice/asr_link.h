// Blocking socket glue of the recognition server link: one frame out, one frame in.
// Both log their steps in GLib's default domain.
#pragma once

#include "asr-message.pb.h"

// 0 when the whole frame went out, -1 when a send failed (what was sent stays sent).
int sendAsrMsg(int socket, const net::zolvek::asr::message::AsrMsg &message);

// The next message read from the socket, owned by the caller, or null when the read failed,
// the peer closed the connection or the frame was longer than the link allows.
net::zolvek::asr::message::AsrMsg *getNuskMsg(int socket);
