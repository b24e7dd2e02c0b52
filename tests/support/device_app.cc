// DeviceApp: an app child and its own message-daemon stand-in, driven together.
#include "device_app.h"

#include <gtest/gtest.h>

#include "app_child.h"

namespace tobrel_test {

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
  std::string js = mainJs;
  const std::string port = std::to_string(msgd_.port());
  for (size_t at = js.find("PORT"); at != std::string::npos; at = js.find("PORT", at + port.size()))
    js.replace(at, 4, port);
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

int DeviceApp::countLog(const std::string& text) const {
  int times = 0;
  for (size_t at = log().find(text); at != std::string::npos; at = log().find(text, at + text.size())) ++times;
  return times;
}

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

}  // namespace tobrel_test
