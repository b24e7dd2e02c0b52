// Device link: connect, frame I/O on the socket and the idle poller with its dispatch. The
// frame's byte layout lives in the shared codec; this file only moves bytes and logs.
#include "link.h"

#include <errno.h>
#include <netdb.h>
#include <netinet/in.h>
#include <poll.h>
#include <string.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <new>
#include <string>
#include <unordered_map>
#include <utility>
#include <vector>

#include "callback_registry.h"
#include "frame_codec.h"
#include "log.h"
#include "nusk-message.pb.h"
#include "script.h"
#include "timeouts.h"
#include "tobrel_data.h"
#include "utils.h"

using google::protobuf::FieldDescriptor;
using google::protobuf::Message;
using google::protobuf::Reflection;
using net::zolvek::nusk::message::InteractiveMode;
using net::zolvek::nusk::message::NuskMsg;
using v8::FunctionCallbackInfo;
using v8::HandleScope;
using v8::Isolate;
using v8::Value;

namespace {

// Reads exactly `size` bytes, however the peer splits them. A closed or failed link is fatal
// with `failure`; a signal that interrupts a read is not a failure.
void receiveAll(int sock, char* buffer, size_t size, const char* failure) {
  size_t got = 0;
  while (got < size) {
    const ssize_t n = recv(sock, buffer + got, size - got, 0);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) g_error("%s", failure);
    got += static_cast<size_t>(n);
  }
}

// Waits up to `timeoutMs` for the link to be readable. A hang-up or error counts as readable,
// so the read that follows reports it.
bool readable(int sock, int timeoutMs) {
  struct pollfd entry = {sock, POLLIN, 0};
  const int ready = poll(&entry, 1, timeoutMs);
  if (ready < 0) {
    if (errno == EINTR) return false;  // the next idle pass looks again
    g_error("Failed to select socket");
  }
  return ready > 0;
}

// A connect that a signal interrupted goes on in the background: wait for its outcome.
int finishInterruptedConnect(int sock) {
  struct pollfd entry = {sock, POLLOUT, 0};
  while (poll(&entry, 1, -1) < 0) {
    if (errno != EINTR) return errno;
  }
  int error = 0;
  socklen_t length = sizeof error;
  if (getsockopt(sock, SOL_SOCKET, SO_ERROR, &error, &length) != 0) return errno;
  return error;
}

// 0 once `sock` is connected to host:port, else -1 after logging why.
int connectSocket(int sock, const char* host, int port) {
  struct addrinfo hints;
  memset(&hints, 0, sizeof hints);
  hints.ai_family = AF_INET;
  hints.ai_socktype = SOCK_STREAM;
  struct addrinfo* found = nullptr;
  if (getaddrinfo(host, nullptr, &hints, &found) != 0 || found == nullptr) {
    g_debug("nslookup failed on '%s'", host);
    return -1;
  }
  struct sockaddr_in address;
  memcpy(&address, found->ai_addr, sizeof address);
  freeaddrinfo(found);
  // Only the low 16 bits name the port: 65536 + p reaches p.
  address.sin_port = htons(static_cast<uint16_t>(port));
  int error = 0;
  if (connect(sock, reinterpret_cast<struct sockaddr*>(&address), sizeof address) != 0) {
    error = errno == EINTR ? finishInterruptedConnect(sock) : errno;
  }
  if (error != 0) {
    g_warning("connect failed on '%s:%d' : %s", host, port, strerror(error));
    return -1;
  }
  return 0;
}

// Passwords, tokens, secrets, keys and credentials travel in some messages (SIP account, app
// and social configuration, authentication, app launches); the trace shows them as "***".
bool isSecretField(const FieldDescriptor& field) {
  if (field.cpp_type() != FieldDescriptor::CPPTYPE_STRING) return false;
  std::string name = field.name();
  std::transform(name.begin(), name.end(), name.begin(), [](unsigned char c) { return std::tolower(c); });
  for (const char* secret : {"password", "token", "secret", "apikey", "authentication"})
    if (name.find(secret) != std::string::npos) return true;
  return false;
}

// The fields of a message type that can hold a secret: its secret fields, and its message
// fields whose type can hold one, however deep, each with that type's own plan. Worked out once
// per type, so the check that every traced message needs looks at those fields only.
struct SecretPlan {
  struct Path {
    const FieldDescriptor* field;
    const SecretPlan* inner;  // null for a secret field itself
  };
  enum State { kNew, kWorking, kReady } state = kNew;
  std::vector<Path> paths;
};

const SecretPlan& secretPlan(const google::protobuf::Descriptor* type) {
  static std::unordered_map<const google::protobuf::Descriptor*, SecretPlan> plans;  // its elements never move
  SecretPlan& plan = plans[type];
  if (plan.state != SecretPlan::kNew) return plan;
  plan.state = SecretPlan::kWorking;
  std::vector<SecretPlan::Path> paths;
  for (int i = 0; i < type->field_count(); ++i) {
    const FieldDescriptor* field = type->field(i);
    if (field->cpp_type() == FieldDescriptor::CPPTYPE_MESSAGE) {
      // A type met again inside itself is kept: its own fields decide when a message is looked at.
      const SecretPlan& inner = secretPlan(field->message_type());
      if (inner.state == SecretPlan::kWorking || !inner.paths.empty()) paths.push_back({field, &inner});
    } else if (isSecretField(*field)) {
      paths.push_back({field, nullptr});
    }
  }
  plan.paths = std::move(paths);
  plan.state = SecretPlan::kReady;
  return plan;
}

// True when a secret field is set in `msg` (whose type's plan is `plan`) or in a message inside it.
bool hasSecret(const Message& msg, const SecretPlan& plan) {
  const Reflection* reflection = msg.GetReflection();
  for (const SecretPlan::Path& path : plan.paths) {
    if (!path.field->is_repeated()) {
      if (!reflection->HasField(msg, path.field)) continue;
      if (path.inner == nullptr || hasSecret(reflection->GetMessage(msg, path.field), *path.inner)) return true;
    } else {
      const int count = reflection->FieldSize(msg, path.field);
      if (count > 0 && path.inner == nullptr) return true;
      for (int i = 0; i < count; ++i)
        if (hasSecret(reflection->GetRepeatedMessage(msg, path.field, i), *path.inner)) return true;
    }
  }
  return false;
}

// Replaces every secret field that is set in `msg`, nested messages included, by "***".
void maskSecrets(Message* msg) {
  const Reflection* reflection = msg->GetReflection();
  std::vector<const FieldDescriptor*> fields;
  reflection->ListFields(*msg, &fields);
  for (const FieldDescriptor* field : fields) {
    const int count = field->is_repeated() ? reflection->FieldSize(*msg, field) : 1;
    if (field->cpp_type() == FieldDescriptor::CPPTYPE_MESSAGE) {
      for (int i = 0; i < count; ++i)
        maskSecrets(field->is_repeated() ? reflection->MutableRepeatedMessage(msg, field, i)
                                         : reflection->MutableMessage(msg, field));
    } else if (isSecretField(*field)) {
      for (int i = 0; i < count; ++i) {
        if (field->is_repeated()) {
          reflection->SetRepeatedString(msg, field, i, "***");
        } else {
          reflection->SetString(msg, field, "***");
        }
      }
    }
  }
}

// The text form of `msg` for the trace, secrets masked; a copy is made only when needed.
std::string traceText(const NuskMsg& msg) {
  static const SecretPlan& plan = secretPlan(NuskMsg::descriptor());
  if (!hasSecret(msg, plan)) return msg.DebugString();
  NuskMsg masked(msg);
  maskSecrets(&masked);
  return masked.DebugString();
}

void armInteractiveStopped(TobrelData* app) {
  g_warning("interactive mode stopped, autokill in %dms", kInteractiveStoppedTimeoutMs);
  g_timeout_add(scaledTimeoutMs(kInteractiveStoppedTimeoutMs), autokillInteractiveStopped, app);
}

}  // namespace

NuskMsg* newMessage(const char* interactiveId) {
  char id[37];
  generateUuid(id);
  auto* msg = new NuskMsg();
  msg->set_id(id);
  if (interactiveId != nullptr) msg->set_interactiveid(interactiveId);
  return msg;
}

int sendMessage(int sock, const NuskMsg& msg) {
  std::string frame;
  try {
    g_debug("Sending MSG\n%s", traceText(msg).c_str());
    if (!tobrel::frame::appendFrame(msg, &frame)) g_error("send failed: %s", strerror(EMSGSIZE));
  } catch (const std::bad_alloc&) {
    // Out of memory for the frame or its trace: the link's own fatal end, with its log line.
    g_error("send failed: %s", strerror(ENOMEM));
  }
  size_t sent = 0;
  while (sent < frame.size()) {
    // MSG_NOSIGNAL: a link the daemon has reset must reach the log line below, not SIGPIPE.
    const ssize_t n = send(sock, frame.data() + sent, frame.size() - sent, MSG_NOSIGNAL);
    if (n < 0) {
      if (errno == EINTR) continue;
      g_error("send failed: %s", strerror(errno));
    }
    sent += static_cast<size_t>(n);
  }
  return 0;
}

void sendMessageWithCallback(int sock, const NuskMsg& msg, CallbackHandler* handler) {
  registerCallback(msg.id(), handler);
  sendMessage(sock, msg);
}

int receiveMessage(int sock, NuskMsg* msg) {
  if (!readable(sock, kPollWaitMs)) return 1;
  logText(G_LOG_LEVEL_DEBUG, "message received");
  unsigned char header[tobrel::frame::kHeaderSize];
  receiveAll(sock, reinterpret_cast<char*>(header), sizeof header, "Failed to receive bytes length from server");
  const uint32_t size = tobrel::frame::decodeLength(header);
  // A length past the cap is corruption or hostility; reading on would mean allocating it.
  if (size > tobrel::frame::kMaxPayload) g_error("Failed to receive bytes from server");
  char* payload = nullptr;
  if (size > 0) {
    payload = static_cast<char*>(g_try_malloc(size));
    if (payload == nullptr) g_error("Failed to receive bytes from server");
    receiveAll(sock, payload, size, "Failed to receive bytes from server");
  }
  const tobrel::frame::ParseResult parsed = tobrel::frame::parsePayload(payload != nullptr ? payload : "", size, msg);
  g_free(payload);
  if (parsed == tobrel::frame::ParseResult::kMalformed) {
    g_warning("dropping a frame of %u bytes that holds no device message", size);
    return 1;
  }
  // Service tokens never reach the log.
  if (!msg->has_social()) logText(G_LOG_LEVEL_DEBUG, ("Received MSG\n" + traceText(*msg)).c_str());
  return 0;
}

int connectToServer(const char* host, int port, TobrelData* app) {
  const int sock = socket(AF_INET, SOCK_STREAM, 0);
  if (sock < 0) {
    g_warning("connect failed on '%s:%d' : %s", host, port, strerror(errno));
    return -1;
  }
  g_debug("connecting to: %s:%d", host, port);
  if (connectSocket(sock, host, port) != 0) {
    close(sock);
    return -1;
  }
  const bool hadLink = app->sock != -1;
  if (hadLink) close(app->sock);
  app->sock = sock;
  // The poller reads app->sock afresh on every pass, so the one already installed serves the
  // new socket.
  // At the timers' priority: a timer that is always due (one that overruns its period) would
  // otherwise starve the link, and no event, reply or STOP would ever be read.
  if (!hadLink) g_idle_add_full(G_PRIORITY_DEFAULT, pollServer, app, nullptr);
  return 0;
}

gboolean pollServer(gpointer raw) {
  auto* app = static_cast<TobrelData*>(raw);
  // Handles made by handlers and listeners die with the pass, not with the app.
  HandleScope scope(Isolate::GetCurrent());
  NuskMsg msg;
  if (receiveMessage(app->sock, &msg) != 0) return TRUE;
  if (msg.has_correlationid() && !dispatchCallback(msg)) g_warning("NO CORRELATION FOUND");
  // A handler that ended the app (a refused START) ends it before any listener hears the message.
  if (app->quitRequested) return TRUE;
  if (!msg.has_interactivemode()) {
    app->onMessage(msg);
  } else if (msg.interactivemode().has_action() && msg.interactivemode().action() == InteractiveMode::STOP) {
    armInteractiveStopped(app);
  }
  return TRUE;
}

gboolean autokillInteractiveStopped(gpointer app) {
  g_warning("interactive mode stopped, autokill");
  endApp(static_cast<TobrelData*>(app), 0);
  return FALSE;
}

void ConnectFunction(const FunctionCallbackInfo<Value>& args) {
  Isolate* isolate = args.GetIsolate();
  if (args.Length() < 2 || args.Length() > 3 || !args[0]->IsString() || !args[1]->IsInt32() ||
      (args.Length() == 3 && !args[2]->IsObject())) {
    return throwText(isolate, "Wrong arguments");
  }
  TobrelData* app = appData(isolate);
  std::string host;
  if (!asciiValue(isolate, args[0], &host)) return;
  const int port = args[1]->Int32Value(isolate->GetCurrentContext()).FromMaybe(0);
  if (connectToServer(host.c_str(), port, app) != 0) {
    g_warning("connection refused");
    return throwText(isolate, "connection refused");
  }
}
