// The app's device link to the message daemon: one TCP connection carrying frames of one
// NuskMsg each (4-byte big-endian length, then the message), read by an idle poller that hands
// every message to its reply handler, then to the app's listeners.
#ifndef TOBREL_VM_CORE_LINK_H
#define TOBREL_VM_CORE_LINK_H

#include <glib.h>
#include <v8.h>

#include "tobrel_data.h"

class CallbackHandler;

namespace net::zolvek::nusk::message {
class NuskMsg;
}

// How long one idle pass waits for the link to become readable.
constexpr int kPollWaitMs = 1;

// A new message (the caller deletes it) with a fresh lowercase UUID as id, and `interactiveId`
// when it is not null.
net::zolvek::nusk::message::NuskMsg* newMessage(const char* interactiveId);

// Writes one whole frame. Any failure of the link is fatal ("send failed: %s").
int sendMessage(int sock, const net::zolvek::nusk::message::NuskMsg& msg);

// Registers `handler` under msg's id (callback_registry.h), then writes the frame: every
// reply finds its entry.
void sendMessageWithCallback(int sock, const net::zolvek::nusk::message::NuskMsg& msg, CallbackHandler* handler);

// 1 when there is nothing to dispatch (nothing ready within kPollWaitMs, or a frame whose bytes
// are no message, which is dropped with a warning); 0 when one frame was read into `msg`.
// A closed or failed link, or a frame longer than 16 MiB, is fatal.
int receiveMessage(int sock, net::zolvek::nusk::message::NuskMsg* msg);

// Opens the app's link (0), or logs why not and returns -1 leaving the app's link as it was.
// A second successful connect replaces the first: the old socket is closed and the one
// poller goes on, reading the new socket.
int connectToServer(const char* host, int port, TobrelData* app);

// The idle source of an app's link, at the timers' priority: reads at most one frame and
// dispatches it. Always TRUE.
gboolean pollServer(gpointer app);

// Armed by a STOP from the daemon: ends the app with status 0.
gboolean autokillInteractiveStopped(gpointer app);

// tobrel.connect(host, port[, options])
void ConnectFunction(const v8::FunctionCallbackInfo<v8::Value>& args);

#endif
