// DeviceApp: an app child and its own message-daemon stand-in, driven together.
#include "device_app.h"

#include <gtest/gtest.h>

#include "app_child.h"

namespace tobrel_test {

using net::zolvek::nusk::message::NuskMsg;
using tobrel::test::MsgdProcess;

std::string tryCall(const std::string& tag, const std::string& call) {
  return "try { var r = " + call + "; log('" + tag + " returned ' + r); } catch (e) { log('" + tag +
         " threw ' + e); }\n";
}

DeviceApp::DeviceApp(const std::vector<std::string>& msgdArgs) : msgd_(msgdArgs) {}

bool DeviceApp::start(const std::string& mainJs, const std::vector<std::string>& accesses) {
  if (msgd_.port() == 0) {
    ADD_FAILURE() << "msgd: " << msgd_.startError();
    return false;
  }
  const std::string js = replaceAll(mainJs, "PORT", std::to_string(msgd_.port()));
  std::string descriptor = "<descriptor><accesses>";
  for (const std::string& access : accesses) descriptor += "<access>" + access + "</access>";
  descriptor += "</accesses></descriptor>\n";
  writeApp(apps_, "app", js, {{"descriptor.xml", descriptor}});
  AppChildOptions options;
  options.run.timeoutMs = 30000;
  app_ = startAppChild(apps_.path(), "app PLAIN inst", options);
  return true;
}

bool DeviceApp::control(const std::string& line) {
  std::string error;
  if (msgd_.control(line, &error)) return true;
  ADD_FAILURE() << "msgd refused \"" << line << "\": " << error;
  return false;
}

bool DeviceApp::answer(const MsgdProcess::Received& request, const std::string& messageText) {
  return control("send " + std::to_string(request.conn) + " correlationId: \"" + request.msg.id() + "\" " +
                 messageText);
}

int DeviceApp::countLog(const std::string& text) const { return countOf(log(), text); }

std::vector<std::string> DeviceApp::scriptLog() const {
  static const std::string kPrefix = "MESSAGE: JSLOG: ";
  std::vector<std::string> lines;
  for (size_t at = log().find(kPrefix); at != std::string::npos; at = log().find(kPrefix, at)) {
    at += kPrefix.size();
    const size_t end = log().find('\n', at);
    lines.push_back(log().substr(at, end == std::string::npos ? std::string::npos : end - at));
  }
  return lines;
}

bool DeviceApp::waitLog(const std::string& text, int times, int timeoutMs) {
  if (app_->waitUntil([&]() { return countLog(text) >= times; }, timeoutMs)) return true;
  ADD_FAILURE() << "the app did not log \"" << text << "\" " << times << " time(s); its log:\n" << log();
  return false;
}

bool DeviceApp::waitGranted() { return waitLog("JSLOG: granted") && waitSent("interactiveMode.START", 1); }

std::vector<MsgdProcess::Received> DeviceApp::sent(const std::string& kindPrefix) {
  std::vector<MsgdProcess::Received> found;
  for (auto& r : msgd_.received())
    if (r.kind.compare(0, kindPrefix.size(), kindPrefix) == 0) found.push_back(std::move(r));
  return found;
}

bool DeviceApp::waitSent(const std::string& kindPrefix, size_t count, int timeoutMs) {
  if (app_->waitUntil([&]() { return sent(kindPrefix).size() >= count; }, timeoutMs)) return true;
  ADD_FAILURE() << "the stand-in did not receive " << count << " \"" << kindPrefix << "\" frame(s); app log:\n"
                << log();
  return false;
}

const char* const kGrantedRunDone = "JSLOG: end OK";

std::vector<CallCase> prefixed(const std::string& prefix, std::vector<CallCase> cases) {
  for (CallCase& c : cases) c.call = prefix + c.call;
  return cases;
}

std::string whenGranted(const std::string& body) {
  return std::string(kConnect) + "tobrel.start(function () {\n" + body +
         "ping(function (code) { log('end ' + code); });\n});\n";
}

void expectSent(DeviceApp& device, const std::string& kindPrefix, const std::vector<CallCase>& cases) {
  const std::vector<std::string> expected = expectedBodies(cases);
  if (!device.waitSent(kindPrefix, expected.size())) return;
  std::vector<std::string> got;
  for (const auto& f : device.sent(kindPrefix)) got.push_back(frameBody(f.msg));
  EXPECT_EQ(got, expected);
}

#define TOBREL_TEST_CONNECT "tobrel.connect('127.0.0.1', PORT);\n"
const char* const kConnect = TOBREL_TEST_CONNECT;
const char* const kConnectAndStart = TOBREL_TEST_CONNECT "tobrel.start(function () { log('granted'); });\n";
#undef TOBREL_TEST_CONNECT

namespace {

std::string caseTag(const std::string& phase, size_t index) {
  return phase.empty() ? std::to_string(index) : phase + " " + std::to_string(index);
}

}  // namespace

std::string tryCalls(const std::vector<CallCase>& cases, const std::string& phase) {
  std::string js;
  for (size_t i = 0; i < cases.size(); ++i) js += tryCall(caseTag(phase, i), cases[i].call);
  return js;
}

void expectOutcomes(const DeviceApp& device, const std::vector<CallCase>& cases, const std::string& phase) {
  for (size_t i = 0; i < cases.size(); ++i) {
    const std::string line = "JSLOG: " + caseTag(phase, i) + " " + cases[i].outcome + "\n";
    EXPECT_NE(device.log().find(line), std::string::npos) << cases[i].call << ": no \"" << line << "\"";
  }
}

std::vector<std::string> expectedBodies(const std::vector<CallCase>& cases) {
  std::vector<std::string> bodies;
  for (const CallCase& c : cases)
    if (!c.sent.empty()) bodies.push_back(c.sent);
  return bodies;
}

std::string frameBody(const net::zolvek::nusk::message::NuskMsg& msg) {
  net::zolvek::nusk::message::NuskMsg body = msg;
  body.clear_id();
  body.clear_interactiveid();
  return body.ShortDebugString();
}

void expectCallTable(DeviceApp& device, const std::string& module, const std::vector<CallCase>& cases,
                     const std::vector<std::string>& accesses, const std::string& setup) {
  ASSERT_FALSE(cases.empty());
  ASSERT_FALSE(cases.back().sent.empty()) << "the last case must send";
  const std::vector<CallCase> calls = prefixed("tobrel." + module + ".", cases);
  ASSERT_TRUE(device.start(setup + kConnect + "tobrel.start(function () {\n" +
                               tryCalls(calls) + "});\n",
                           accesses));
  ASSERT_TRUE(device.waitLog("JSLOG: " + std::to_string(cases.size() - 1) + " "));
  expectOutcomes(device, calls);
  const std::vector<std::string> expected = expectedBodies(cases);
  ASSERT_TRUE(device.waitSent(module + ".", expected.size()));
  const auto* field = NuskMsg::descriptor()->FindFieldByName(module);
  ASSERT_NE(field, nullptr) << module;
  std::vector<std::string> got;
  for (const auto& frame : device.sent(module + "."))
    got.push_back(frame.msg.GetReflection()->GetMessage(frame.msg, field).ShortDebugString());
  EXPECT_EQ(got, expected);
}

}  // namespace tobrel_test
