// Stand-in for the web servers that apps reach through the HTTP client. It records every request
// (method, target, header lines in order, body) and answers each with raw bytes chosen by the
// test, over plain HTTP and over TLS with the certificate given for each TLS port.
//
//   tobrel-web --record DIR --replies DIR [--address A] [--http PORT]... [--tls PORT:CERT:KEY]...
//
// PORT 0 picks a free port; each listener prints "listening http|tls PORT" once it accepts.
// The reply to target /NAME (query left out) is the file DIR/NAME of --replies, sent as it is
// (status line and headers included, or not), then the connection is closed; a missing file gets
// a 404. /generated/N is answered with N bytes of "a". Request K leaves record-DIR/request-K.body
// and then request-K.head (request line and header lines); the head appears last, so once it is
// there the request is complete. Each request is also announced as "request K METHOD TARGET",
// a TLS handshake that fails as "tls failed PORT", a connection that ends before a request as
// "no request on PORT". Bodies come with Content-Length or
// chunked; "Expect: 100-continue" is answered. Connections are served one at a time.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <openssl/err.h>
#include <openssl/ssl.h>
#include <poll.h>
#include <signal.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <strings.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

#include <algorithm>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

namespace {

struct Listener {
  int fd = -1;
  int port = 0;
  SSL_CTX* tls = nullptr;  // null: plain HTTP
};

// One accepted connection, plain or TLS.
class Connection {
 public:
  Connection(int fd, SSL* ssl) : fd_(fd), ssl_(ssl) {}
  ~Connection() {
    if (ssl_ != nullptr) {
      SSL_shutdown(ssl_);
      SSL_free(ssl_);
    }
    close(fd_);
  }
  ssize_t read(char* buffer, size_t size) {
    if (ssl_ == nullptr) return ::read(fd_, buffer, size);
    const int n = SSL_read(ssl_, buffer, static_cast<int>(size));
    return n > 0 ? n : -1;
  }
  bool write(const std::string& data) {
    for (size_t done = 0; done < data.size();) {
      const size_t chunk = data.size() - done;
      const ssize_t n = ssl_ == nullptr ? ::write(fd_, data.data() + done, chunk)
                                        : SSL_write(ssl_, data.data() + done, static_cast<int>(chunk));
      if (n <= 0) return false;
      done += static_cast<size_t>(n);
    }
    return true;
  }

 private:
  int fd_;
  SSL* ssl_;
};

// Appends what the connection has next to `pending`; false at the end.
bool readMore(Connection& connection, std::string* pending) {
  char buffer[16384];
  const ssize_t n = connection.read(buffer, sizeof buffer);
  if (n <= 0) return false;
  pending->append(buffer, static_cast<size_t>(n));
  return true;
}

// Reads from the connection into `pending` until it holds `wanted` bytes; false at the end.
bool fill(Connection& connection, std::string* pending, size_t wanted) {
  while (pending->size() < wanted)
    if (!readMore(connection, pending)) return false;
  return true;
}

// Reads until `pending` holds `marker`; returns its position or npos at the end.
size_t fillUntil(Connection& connection, std::string* pending, const std::string& marker) {
  size_t at;
  while ((at = pending->find(marker)) == std::string::npos)
    if (!readMore(connection, pending)) return std::string::npos;
  return at;
}

std::string headerValue(const std::vector<std::string>& lines, const char* name) {
  const size_t length = strlen(name);
  for (const std::string& line : lines) {
    if (line.size() > length && strncasecmp(line.c_str(), name, length) == 0 && line[length] == ':') {
      size_t from = length + 1;
      while (from < line.size() && line[from] == ' ') ++from;
      return line.substr(from);
    }
  }
  return "";
}

// The body after the head: by Content-Length, or chunk by chunk.
bool readBody(Connection& connection, const std::vector<std::string>& lines, std::string* pending,
              std::string* body) {
  if (strcasecmp(headerValue(lines, "Transfer-Encoding").c_str(), "chunked") == 0) {
    for (;;) {
      const size_t end = fillUntil(connection, pending, "\r\n");
      if (end == std::string::npos) return false;
      const size_t size = strtoul(pending->substr(0, end).c_str(), nullptr, 16);
      pending->erase(0, end + 2);
      if (size == 0) {
        // Trailers, if any, end with an empty line.
        return fillUntil(connection, pending, "\r\n") != std::string::npos;
      }
      if (!fill(connection, pending, size + 2)) return false;
      body->append(*pending, 0, size);
      pending->erase(0, size + 2);
    }
  }
  const size_t length = strtoul(headerValue(lines, "Content-Length").c_str(), nullptr, 10);
  if (!fill(connection, pending, length)) return false;
  body->assign(*pending, 0, length);
  return true;
}

void saveAtomically(const std::string& path, const std::string& data) {
  const std::string temporary = path + ".tmp";
  std::ofstream(temporary, std::ios::binary) << data;
  rename(temporary.c_str(), path.c_str());
}

std::string readWhole(const std::string& path, bool* found) {
  std::ifstream in(path, std::ios::binary);
  *found = static_cast<bool>(in);
  std::ostringstream content;
  content << in.rdbuf();
  return content.str();
}

// Sends the reply to `target`: the chosen bytes, a generated body or a 404.
void sendReply(Connection& connection, const std::string& target, const std::string& repliesDir) {
  std::string path = target.substr(0, target.find('?'));
  static const std::string kGenerated = "/generated/";
  if (path.compare(0, kGenerated.size(), kGenerated) == 0) {
    // 64 bits whatever size_t has: a body of 4 GiB or more keeps its length.
    unsigned long long left = strtoull(path.c_str() + kGenerated.size(), nullptr, 10);
    if (!connection.write("HTTP/1.1 200 OK\r\nContent-Type: text/plain\r\nContent-Length: " + std::to_string(left) +
                          "\r\nConnection: close\r\n\r\n"))
      return;
    // In pieces: a body of any size, without holding it.
    const std::string piece(65536, 'a');
    for (; left > 0; left -= std::min<unsigned long long>(left, piece.size()))
      if (!connection.write(left >= piece.size() ? piece : piece.substr(0, left))) return;
    return;
  }
  bool found = false;
  std::string reply;
  // Only plain names: a target never leaves the replies folder.
  if (path.size() > 1 && path.find("..") == std::string::npos) reply = readWhole(repliesDir + path, &found);
  if (!found) {
    reply = "HTTP/1.1 404 Not Found\r\nContent-Type: text/plain\r\nContent-Length: 9\r\nConnection: close\r\n\r\n"
            "not found";
  }
  connection.write(reply);
}

// Serves one request; false when the client sent none (it gave up after the TLS handshake, say).
bool serve(Connection& connection, const std::string& recordDir, const std::string& repliesDir, int number) {
  std::string pending;
  const size_t headEnd = fillUntil(connection, &pending, "\r\n\r\n");
  if (headEnd == std::string::npos) return false;
  const std::string head = pending.substr(0, headEnd + 2);
  pending.erase(0, headEnd + 4);
  std::vector<std::string> lines;
  for (size_t from = 0; from < head.size();) {
    const size_t end = head.find("\r\n", from);
    lines.push_back(head.substr(from, end - from));
    from = end + 2;
  }
  std::istringstream requestLine(lines.empty() ? "" : lines[0]);
  std::string method, target;
  requestLine >> method >> target;
  lines.erase(lines.begin());
  if (strcasecmp(headerValue(lines, "Expect").c_str(), "100-continue") == 0)
    connection.write("HTTP/1.1 100 Continue\r\n\r\n");
  std::string body;
  readBody(connection, lines, &pending, &body);
  const std::string base = recordDir + "/request-" + std::to_string(number);
  saveAtomically(base + ".body", body);
  saveAtomically(base + ".head", head);
  printf("request %d %s %s\n", number, method.c_str(), target.c_str());
  sendReply(connection, target, repliesDir);
  return true;
}

int listenOn(const char* address, int port, int* bound) {
  const int fd = socket(AF_INET, SOCK_STREAM, 0);
  const int on = 1;
  setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
  sockaddr_in where{};
  where.sin_family = AF_INET;
  where.sin_port = htons(static_cast<uint16_t>(port));
  if (inet_pton(AF_INET, address, &where.sin_addr) != 1 ||
      bind(fd, reinterpret_cast<sockaddr*>(&where), sizeof where) != 0 || listen(fd, 16) != 0) {
    perror("tobrel-web: listen");
    exit(1);
  }
  socklen_t length = sizeof where;
  getsockname(fd, reinterpret_cast<sockaddr*>(&where), &length);
  *bound = ntohs(where.sin_port);
  return fd;
}

SSL_CTX* tlsContext(const std::string& cert, const std::string& key) {
  SSL_CTX* context = SSL_CTX_new(TLS_server_method());
  if (context == nullptr || SSL_CTX_use_certificate_chain_file(context, cert.c_str()) != 1 ||
      SSL_CTX_use_PrivateKey_file(context, key.c_str(), SSL_FILETYPE_PEM) != 1) {
    fprintf(stderr, "tobrel-web: cannot load %s / %s\n", cert.c_str(), key.c_str());
    ERR_print_errors_fp(stderr);
    exit(1);
  }
  return context;
}

void usage() {
  fprintf(stderr,
          "usage: tobrel-web --record DIR --replies DIR [--address A] [--http PORT]... "
          "[--tls PORT:CERT:KEY]...\n");
  exit(2);
}

}  // namespace

int main(int argc, char** argv) {
  signal(SIGPIPE, SIG_IGN);
  setvbuf(stdout, nullptr, _IOLBF, 0);
  std::string recordDir, repliesDir;
  const char* address = "127.0.0.1";
  std::vector<int> httpPorts;
  struct TlsPort {
    int port;
    std::string cert, key;
  };
  std::vector<TlsPort> tlsPorts;
  for (int i = 1; i < argc; ++i) {
    const std::string option = argv[i];
    if (i + 1 >= argc) usage();
    const std::string value = argv[++i];
    if (option == "--record") {
      recordDir = value;
    } else if (option == "--replies") {
      repliesDir = value;
    } else if (option == "--address") {
      address = argv[i];
    } else if (option == "--http") {
      httpPorts.push_back(atoi(value.c_str()));
    } else if (option == "--tls") {
      const size_t first = value.find(':'), second = value.find(':', first + 1);
      if (second == std::string::npos) usage();
      tlsPorts.push_back({atoi(value.substr(0, first).c_str()), value.substr(first + 1, second - first - 1),
                          value.substr(second + 1)});
    } else {
      usage();
    }
  }
  if (recordDir.empty() || repliesDir.empty() || (httpPorts.empty() && tlsPorts.empty())) usage();

  std::vector<Listener> listeners;
  for (int port : httpPorts) {
    Listener listener;
    listener.fd = listenOn(address, port, &listener.port);
    listeners.push_back(listener);
  }
  for (const TlsPort& tls : tlsPorts) {
    Listener listener;
    listener.tls = tlsContext(tls.cert, tls.key);
    listener.fd = listenOn(address, tls.port, &listener.port);
    listeners.push_back(listener);
  }
  for (const Listener& listener : listeners)
    printf("listening %s %d\n", listener.tls != nullptr ? "tls" : "http", listener.port);

  std::vector<pollfd> polled;
  for (const Listener& listener : listeners) polled.push_back({listener.fd, POLLIN, 0});
  int number = 0;
  for (;;) {
    if (poll(polled.data(), polled.size(), -1) < 0) continue;
    for (size_t i = 0; i < polled.size(); ++i) {
      if ((polled[i].revents & POLLIN) == 0) continue;
      const int client = accept(listeners[i].fd, nullptr, nullptr);
      if (client < 0) continue;
      // A client that stalls must not hold the stand-in for ever.
      timeval limit{10, 0};
      setsockopt(client, SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof limit);
      SSL* ssl = nullptr;
      if (listeners[i].tls != nullptr) {
        ssl = SSL_new(listeners[i].tls);
        SSL_set_fd(ssl, client);
        if (SSL_accept(ssl) != 1) {
          printf("tls failed %d\n", listeners[i].port);
          SSL_free(ssl);
          close(client);
          continue;
        }
      }
      Connection connection(client, ssl);
      if (serve(connection, recordDir, repliesDir, number + 1)) {
        ++number;
      } else {
        printf("no request on %d\n", listeners[i].port);
      }
    }
  }
}
