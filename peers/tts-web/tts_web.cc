// Stand-in for a language's text-to-speech web service: listens on 127.0.0.1 (port 0, printed as
// "PORT <n>"), records every request and answers each with a fixed status and body.
//   tobrel-tts-web --record DIR [--status CODE] [--reply FILE]
// Request k leaves DIR/request-k.body (the posted bytes) and then DIR/request-k.head (request
// line and headers); the head file appears last, so its presence means the request is complete.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <signal.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <strings.h>
#include <sys/socket.h>
#include <unistd.h>

#include <fstream>
#include <sstream>
#include <string>

namespace {

bool writeAll(int fd, const std::string &data) {
  size_t off = 0;
  while (off < data.size()) {
    ssize_t n = write(fd, data.data() + off, data.size() - off);
    if (n <= 0) return false;
    off += static_cast<size_t>(n);
  }
  return true;
}

void saveAtomically(const std::string &path, const std::string &data) {
  std::string tmp = path + ".tmp";
  std::ofstream(tmp, std::ios::binary) << data;
  rename(tmp.c_str(), path.c_str());
}

size_t contentLength(const std::string &head) {
  std::istringstream in(head);
  for (std::string line; std::getline(in, line);) {
    static const char kName[] = "content-length:";
    if (strncasecmp(line.c_str(), kName, sizeof kName - 1) == 0)
      return strtoul(line.c_str() + sizeof kName - 1, nullptr, 10);
  }
  return 0;
}

void serve(int client, const std::string &record_dir, int count, int status,
           const std::string &reply) {
  std::string data;
  char buf[8192];
  size_t head_end;
  while ((head_end = data.find("\r\n\r\n")) == std::string::npos) {
    ssize_t n = read(client, buf, sizeof buf);
    if (n <= 0) return;
    data.append(buf, static_cast<size_t>(n));
  }
  std::string head = data.substr(0, head_end + 2);
  std::string body = data.substr(head_end + 4);
  if (strcasestr(head.c_str(), "Expect: 100-continue"))
    writeAll(client, "HTTP/1.1 100 Continue\r\n\r\n");
  const size_t length = contentLength(head);
  while (body.size() < length) {
    ssize_t n = read(client, buf, sizeof buf);
    if (n <= 0) break;
    body.append(buf, static_cast<size_t>(n));
  }
  const std::string base = record_dir + "/request-" + std::to_string(count);
  saveAtomically(base + ".body", body);
  saveAtomically(base + ".head", head);
  std::ostringstream out;
  out << "HTTP/1.1 " << status << (status == 200 ? " OK" : " Error") << "\r\n"
      << "Content-Type: " << (status == 200 ? "audio/mpeg" : "text/html") << "\r\n"
      << "Content-Length: " << reply.size() << "\r\nConnection: close\r\n\r\n"
      << reply;
  writeAll(client, out.str());
}

}  // namespace

int main(int argc, char **argv) {
  std::string record_dir, reply = "ID3-stand-in-audio";
  int status = 200;
  for (int i = 1; i + 1 < argc; i += 2) {
    std::string opt = argv[i];
    if (opt == "--record") record_dir = argv[i + 1];
    else if (opt == "--status") status = atoi(argv[i + 1]);
    else if (opt == "--reply") {
      std::ifstream in(argv[i + 1], std::ios::binary);
      std::ostringstream s;
      s << in.rdbuf();
      reply = s.str();
    }
  }
  if (record_dir.empty()) {
    fprintf(stderr, "usage: %s --record DIR [--status CODE] [--reply FILE]\n", argv[0]);
    return 2;
  }
  signal(SIGPIPE, SIG_IGN);
  int listener = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  addr.sin_port = 0;
  socklen_t len = sizeof addr;
  if (listener < 0 || bind(listener, reinterpret_cast<sockaddr *>(&addr), sizeof addr) != 0 ||
      listen(listener, 8) != 0 || getsockname(listener, reinterpret_cast<sockaddr *>(&addr), &len) != 0) {
    perror("tobrel-tts-web");
    return 1;
  }
  printf("PORT %d\n", ntohs(addr.sin_port));
  fflush(stdout);
  for (int count = 1;; ++count) {
    int client = accept(listener, nullptr, nullptr);
    if (client < 0) continue;
    serve(client, record_dir, count, status, reply);
    close(client);
  }
}
