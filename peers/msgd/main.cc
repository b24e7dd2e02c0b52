// msgd: a stand-in for the device's local message daemon, for running and testing apps here.
// Options and start-up only; the loop is in server.cc, the answers in responder.cc.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "control.h"
#include "server.h"

namespace {

const char kUsage[] =
    "Usage: msgd [--host ADDR] [--port N] [--transcript FILE] [--data FILE] [--exec LINE]...\n"
    "            [--no-stdin]\n"
    "Stand-in for the local message daemon. Serves the device link (4-byte big-endian length,\n"
    "then one NuskMsg) to any number of apps at once on a loopback address, records every frame\n"
    "it receives, and answers by rules set with --exec or with control lines on standard input.\n"
    "\n"
    "Options:\n"
    "  --host ADDR        loopback IPv4 address to listen on (default 127.0.0.1)\n"
    "  --port N           TCP port; 0 picks a free one (default 0)\n"
    "  --transcript FILE  also append every output line to FILE\n"
    "  --data FILE        answer device-information, contact and message queries from FILE (below)\n"
    "  -e, --exec LINE    run a control line before listening (repeatable; an error ends msgd)\n"
    "  --no-stdin         read no control lines; run until SIGINT or SIGTERM\n"
    "                     (otherwise the end of standard input stops msgd)\n"
    "  --help             print this text and exit\n"
    "\n"
    "Output on standard output, one line each, flushed at once:\n"
    "  listening on HOST:PORT          first line once the socket listens\n"
    "  conn N open PEER                an app connected; N numbers connections from 1\n"
    "  conn N recv KIND TEXT           a frame received from N: KIND is its first sub-message\n"
    "                                  (interactiveMode.START, led.light, ping, ... or -), TEXT\n"
    "                                  the whole message in one-line protobuf text form\n"
    "  conn N sent KIND TEXT           a frame sent to N\n"
    "  conn N warn MESSAGE             e.g. a frame that lacks required fields\n"
    "  conn N closed REASON            by peer, inside a frame, frame length over the limit,\n"
    "                                  undecodable frame, by control command ...\n"
    "  ok: LINE | error: MESSAGE       verdict on each control line\n"
    "\n"
    "The data file is one NuskMsg in protobuf text form (# starts a comment) with any of:\n"
    "  tobrelinfo_response { infos { key: \"serial\" value: \"0042\" } ... }\n"
    "      the reply to tobrel.info (tobrelinfo_query)\n"
    "  contactList { contacts { firstname: \"Ana\" uuid: \"c1\" objects { idDB: \"7\" name: \"home\" } } ... }\n"
    "      the reply to contact.get (getcontactList)\n"
    "  tobrelMessageResponse { tobrelMessageList { header { id: \"m1\" date: 1700000000 status: UNREAD\n"
    "      from { ... } to { ... } } content { type: TEXT content: \"hi\" } } ... }\n"
    "      the message store, kept in memory: LIST gives every message, GET the ones named by\n"
    "      their header id, DELETE removes and READ marks them (each giving the messages it\n"
    "      touched), NEW adds the app's message (header id m1, m2 ... when it has none)\n"
    "Those results go into the OK reply; an attach rule for the kind replaces them, and\n"
    "\"later KIND data\" sends them in a message of their own after the reply.\n"
    "\n";

bool takeValue(int argc, char** argv, int* i, const char* name, std::string* value) {
  const std::string arg = argv[*i];
  const std::string eq = std::string(name) + "=";
  if (arg.rfind(eq, 0) == 0) {
    *value = arg.substr(eq.size());
    return true;
  }
  if (arg != name) return false;
  if (*i + 1 >= argc) {
    std::fprintf(stderr, "msgd: %s needs a value; try --help\n", name);
    std::exit(2);
  }
  *value = argv[++*i];
  return true;
}

int parsePort(const std::string& text) {
  char* end = nullptr;
  const long n = std::strtol(text.c_str(), &end, 10);
  if (text.empty() || *end != '\0' || n < 0 || n > 65535) {
    std::fprintf(stderr, "msgd: bad port '%s' (0 to 65535)\n", text.c_str());
    std::exit(2);
  }
  return static_cast<int>(n);
}

}  // namespace

int main(int argc, char** argv) {
  std::string host = "127.0.0.1", transcript, value;
  int port = 0;
  bool readStdin = true;
  std::string dataPath;
  std::vector<std::string> exec;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg == "--help" || arg == "-h") {
      std::fputs(kUsage, stdout);
      std::fputs(msgd::Control::helpText(), stdout);
      return 0;
    } else if (takeValue(argc, argv, &i, "--host", &value)) {
      host = value;
    } else if (takeValue(argc, argv, &i, "--port", &value)) {
      port = parsePort(value);
    } else if (takeValue(argc, argv, &i, "--transcript", &value)) {
      transcript = value;
    } else if (takeValue(argc, argv, &i, "--data", &value)) {
      dataPath = value;
    } else if (takeValue(argc, argv, &i, "--exec", &value) ||
               takeValue(argc, argv, &i, "-e", &value)) {
      exec.push_back(value);
    } else if (arg == "--no-stdin") {
      readStdin = false;
    } else {
      std::fprintf(stderr, "msgd: unknown argument '%s'; try --help\n", arg.c_str());
      return 2;
    }
  }

  msgd::Server server;
  if (!transcript.empty() && !server.setTranscript(transcript)) {
    std::fprintf(stderr, "msgd: cannot open transcript %s: %s\n", transcript.c_str(),
                 std::strerror(errno));
    return 2;
  }
  if (!dataPath.empty()) {
    msgd::DataStore data;
    std::string error;
    if (!data.load(dataPath, &error)) {
      std::fprintf(stderr, "msgd: %s\n", error.c_str());
      return 2;
    }
    server.setData(std::move(data));
  }
  for (const std::string& line : exec)
    if (!server.control(line)) return 2;
  std::string error;
  if (!server.listen(host, port, &error)) {
    std::fprintf(stderr, "msgd: %s\n", error.c_str());
    return 1;
  }
  return server.run(readStdin);
}
