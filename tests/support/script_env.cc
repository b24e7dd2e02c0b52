// ScriptEnv: an app context in the test process, for tests of natives and of the link's
// dispatch without a forked child.
#include "script_env.h"

#include <gtest/gtest.h>
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include "app.h"
#include "callback_registry.h"
#include "data_resource.h"
#include "engine.h"
#include "frame_codec.h"
#include "link.h"
#include "modules.h"

using net::zolvek::nusk::message::NuskMsg;
using v8::Context;
using v8::HandleScope;
using v8::Isolate;
using v8::Local;
using v8::ObjectTemplate;
using v8::Script;
using v8::String;
using v8::TryCatch;
using v8::Value;

namespace tobrel_test {

ScriptEnv::ScriptEnv(const std::string& appFolder, const std::string& appName)
    : appFolder_(appFolder), app_(new TobrelData()) {
  options_.appFolder = appFolder_.c_str();
  app_->options = &options_;
  app_->appName = appName;
  app_->loop = g_main_loop_new(nullptr, FALSE);
  isolate_ = newAppIsolate();
  isolate_->Enter();
  scope_.emplace(isolate_);
  Local<ObjectTemplate> global = createGlobalTemplate(isolate_);
  Local<ObjectTemplate> tobrel = ObjectTemplate::New(isolate_);
  setLinkFunctions(isolate_, tobrel);
  global->Set(isolate_, "tobrel", tobrel);
  global->Set(isolate_, "file", createFileTemplate(isolate_));
  Local<Context> context = Context::New(isolate_, nullptr, global);
  context->Global()->SetAlignedPointerInInternalField(0, app_.get());
  context_.Reset(isolate_, context);
  context->Enter();
}

ScriptEnv::~ScriptEnv() {
  {
    HandleScope scope(isolate_);
    clearCallbacks();
    app_->deleteListeners();
    context_.Get(isolate_)->Exit();
  }
  context_.Reset();
  scope_.reset();
  isolate_->Exit();
  disposeAppIsolate(isolate_);
  if (app_->sock != -1) close(app_->sock);
  if (peer_ != -1) close(peer_);
  g_main_loop_unref(app_->loop);
  app_.reset();
}

Local<Context> ScriptEnv::context() const { return context_.Get(isolate_); }

std::string ScriptEnv::run(const std::string& source) {
  HandleScope scope(isolate_);
  Local<Context> context = this->context();
  TryCatch tryCatch(isolate_);
  Local<String> code = String::NewFromUtf8(isolate_, source.c_str()).ToLocalChecked();
  Local<Script> script;
  Local<Value> result;
  if (!Script::Compile(context, code).ToLocal(&script) || !script->Run(context).ToLocal(&result)) {
    String::Utf8Value text(isolate_, tryCatch.Exception());
    return std::string("threw: ") + (*text != nullptr ? *text : "?");
  }
  String::Utf8Value text(isolate_, result);
  return *text != nullptr ? *text : "?";
}

void ScriptEnv::setGlobal(const char* name, Local<Value> value) {
  Local<Context> context = this->context();
  context->Global()->Set(context, String::NewFromUtf8(isolate_, name).ToLocalChecked(), value).Check();
}

void ScriptEnv::setNative(const char* name, v8::FunctionCallback native) {
  v8::HandleScope scope(isolate_);
  setGlobal(name, v8::FunctionTemplate::New(isolate_, native)->GetFunction(context()).ToLocalChecked());
}

int ScriptEnv::attachPeer() {
  int pair[2];
  if (socketpair(AF_UNIX, SOCK_STREAM, 0, pair) != 0) ADD_FAILURE() << "socketpair";
  app_->sock = pair[0];
  peer_ = pair[1];
  return peer_;
}

void ScriptEnv::pollOnce() { pollServer(app_.get()); }

namespace {

void readExactly(int fd, char* buffer, size_t size) {
  size_t got = 0;
  while (got < size) {
    const ssize_t n = read(fd, buffer + got, size - got);
    if (n <= 0) {
      ADD_FAILURE() << "short read on the daemon's side of the link";
      return;
    }
    got += static_cast<size_t>(n);
  }
}

}  // namespace

NuskMsg readFrame(int fd) {
  unsigned char header[tobrel::frame::kHeaderSize];
  readExactly(fd, reinterpret_cast<char*>(header), sizeof header);
  std::string payload(tobrel::frame::decodeLength(header), '\0');
  if (!payload.empty()) readExactly(fd, &payload[0], payload.size());
  NuskMsg msg;
  EXPECT_NE(tobrel::frame::parsePayload(payload.data(), payload.size(), &msg), tobrel::frame::ParseResult::kMalformed);
  return msg;
}

void writeBytes(int fd, const std::string& bytes) {
  ASSERT_EQ(write(fd, bytes.data(), bytes.size()), static_cast<ssize_t>(bytes.size()));
}

void writeFrame(int fd, const NuskMsg& msg) {
  std::string frame;
  ASSERT_TRUE(tobrel::frame::appendFrame(msg, &frame));
  writeBytes(fd, frame);
}

int listenOnLoopback(int* port) {
  const int fd = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  EXPECT_EQ(bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
  EXPECT_EQ(listen(fd, 4), 0);
  socklen_t length = sizeof address;
  getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length);
  *port = ntohs(address.sin_port);
  return fd;
}

int unusedLoopbackPort() {
  int port = 0;
  close(listenOnLoopback(&port));
  return port;
}

NuskMsg replyTo(const std::string& request, int code) {
  NuskMsg msg;
  msg.set_id("reply-to-" + request);
  msg.set_correlationid(request);
  if (code >= 0) msg.mutable_response();
  if (code > 0) msg.mutable_response()->set_code(static_cast<net::zolvek::nusk::message::VReturnCode>(code));
  return msg;
}

}  // namespace tobrel_test
