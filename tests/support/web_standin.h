// Test support: the web stand-in (peers/web) with folders of its own: the replies the test
// chooses, per target path, and the requests it recorded, parsed back.
//
//   tobrel_test::WebStandIn web;
//   web.reply("page", tobrel_test::httpReply("200 OK", {"Content-Type: text/plain"}, "hi"));
//   ASSERT_TRUE(web.start()) << web.error();        // plain HTTP on 127.0.0.1:web.port()
//   ... the app fetches http://127.0.0.1:PORT/page ...
//   ASSERT_TRUE(web.waitRequests(1));
//   EXPECT_EQ(web.requests()[0].body, "a=b");
// ServiceNet (service_net.h) starts the same stand-in inside a private network instead.
#ifndef TOBREL_TESTS_SUPPORT_WEB_STANDIN_H
#define TOBREL_TESTS_SUPPORT_WEB_STANDIN_H

#include <memory>
#include <string>
#include <vector>

#include "process.h"
#include "temp_dir.h"

namespace tobrel_test {

struct WebRequest {
  std::string method, target;
  std::vector<std::string> headers;  // "Name: value" lines, in the order sent
  std::string body;                  // decoded (Content-Length or chunked)
  // The value of the first header line of that name (any case), or "" when there is none.
  std::string header(const std::string& name) const;
  bool hasHeader(const std::string& name) const;

 private:
  // The first header line of that name, or null.
  const std::string* findHeader(const std::string& name) const;
};

// A raw HTTP/1.1 reply: the status line "HTTP/1.1 <status>", the header lines, Content-Length
// and "Connection: close", an empty line and the body.
std::string httpReply(const std::string& status, const std::vector<std::string>& headers, const std::string& body);

class WebStandIn {
 public:
  WebStandIn();
  ~WebStandIn();
  WebStandIn(const WebStandIn&) = delete;
  WebStandIn& operator=(const WebStandIn&) = delete;

  static std::string programPath();

  // The reply to target /name: `raw` exactly as sent (status line and headers included).
  void reply(const std::string& name, const std::string& raw) const;

  // Starts the stand-in on 127.0.0.1 with one plain HTTP port of its own choosing, plus one TLS
  // port per "CERT:KEY" given; false (see error()) when it did not come up.
  bool start(const std::vector<std::string>& tlsCertKeys = {});
  int port() const { return port_; }
  const std::vector<int>& tlsPorts() const { return tlsPorts_; }
  const std::string& error() const { return error_; }

  // The stand-in's command line on these folders, for who starts it: plain HTTP on `httpPort`
  // and one TLS listener for each "PORT:CERT:KEY" of `tls` ("0" picks a free port).
  std::vector<std::string> commandLine(const std::string& httpPort, const std::vector<std::string>& tls) const;

  // The complete requests recorded so far, in order; waitRequests waits until there are `count`.
  std::vector<WebRequest> requests() const;
  bool waitRequests(size_t count, int timeoutMs = 10000) const;
  // What the stand-in printed (its listening, request and TLS failure lines); a stand-in that
  // another process started prints into transcriptPath().
  std::string transcript();
  std::string transcriptPath() const { return dir_.path() + "/transcript"; }

 private:
  TempDir dir_;
  std::unique_ptr<Process> process_;
  int port_ = 0;
  std::vector<int> tlsPorts_;
  std::string error_;
};

}  // namespace tobrel_test

#endif
