// Test support: an app child that reaches the web services under their real names, without any
// traffic leaving the machine. The child runs in private network and mount namespaces:
//   - loopback only, brought up inside the namespace;
//   - /etc/hosts mapping every name of kServiceNames to 127.0.0.1;
//   - /etc/ssl/certs holding only the test CA (test_certs.h), as the bundle and as a hashed link;
//   - /dev/log of its own (RunOptions::discardSyslog, or the test's capture);
//   - the web stand-in (web_standin.h) on 127.0.0.1 inside it: port 80 plain HTTP, 443 with the
//     CA-signed certificate for the service names, 8443 with the self-signed one for the same
//     names, 9443 with the CA-signed one for "other.test".
// Needs root, as the syslog tests do. The stand-in ends with the app.
//
//   tobrel_test::ServiceNet net;
//   ASSERT_TRUE(net.ready()) << net.error();
//   net.web().reply("me", httpReply("200 OK", {}, "{}"));
//   auto app = net.startApp(apps.path(), "app PLAIN inst");   // https://graph.facebook.com/me
//   RunResult r = app->wait(20000);
//   auto requests = net.web().requests();
#ifndef TOBREL_TESTS_SUPPORT_SERVICE_NET_H
#define TOBREL_TESTS_SUPPORT_SERVICE_NET_H

#include <memory>
#include <string>
#include <vector>

#include "app_child.h"
#include "process.h"
#include "temp_dir.h"
#include "test_certs.h"
#include "web_standin.h"

namespace tobrel_test {

// Names the hosts file maps to 127.0.0.1; the service certificate covers them and their
// subdomains.
extern const std::vector<std::string> kServiceNames;

class ServiceNet {
 public:
  ServiceNet();  // makes the certificates, the hosts file and the CA folder
  ServiceNet(const ServiceNet&) = delete;
  ServiceNet& operator=(const ServiceNet&) = delete;

  bool ready() const { return error_.empty(); }
  const std::string& error() const { return error_; }
  WebStandIn& web() { return web_; }
  const TestCertificates& certificates() const { return certs_; }

  // A further program to start inside the namespaces after the web stand-in and before the
  // app (the message-daemon stand-in, on a port fixed by the test: the network is private),
  // with its output in the file `transcript`; the app starts once that output holds `ready`.
  // It ends with the app.
  void alsoRun(const std::vector<std::string>& argv, const std::string& transcript, const std::string& ready);

  // Starts the app child inside the namespaces, once the stand-in listens there. A failed set-up
  // ends the child with status 120 and the reason on its standard error.
  std::unique_ptr<Process> startApp(const std::string& appFolder, const std::string& requestLine,
                                    const AppChildOptions& options = AppChildOptions());

 private:
  TempDir dir_;
  TestCertificates certs_;
  WebStandIn web_;
  std::string error_;
  struct Program {
    std::vector<std::string> argv;
    std::string transcript, ready;
  };
  std::vector<Program> others_;
};

}  // namespace tobrel_test

#endif
