// Recognition-server stand-in for tests and manual runs: a TCP server on 127.0.0.1 that takes
// the grammar frame, counts audio frames and gives one answer chosen on the command line.
// It prints "port N" once listening, and one "session ..." line after each connection ends.
#include <arpa/inet.h>
#include <errno.h>
#include <getopt.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <string>
#include <vector>

#include "asr-message.pb.h"

using net::zolvek::asr::message::AsrMsg;
using net::zolvek::asr::message::VReturnCode;

namespace {

const char kUsage[] =
    "usage: asrd [options]\n"
    "  --port=N          listen on N (default 0: any free port, printed)\n"
    "  --answer=MODE     ok (default), nomatch, nocode (a response without code), empty\n"
    "                    (a frame of length 0), never, close, malformed (a response cut short),\n"
    "                    oversize (a length above 1 MiB), cutlength (two bytes of a length and\n"
    "                    nothing more), cutbody (a length of 100 and two bytes of the body); after\n"
    "                    the last two the connection stays open\n"
    "  --after=N         answer after N audio frames (default 1)\n"
    "  --words=TEXT  --semantic=TEXT  --score=N   fields of the answer, each sent only when given\n"
    "  --split[=frames]  write the answer in pieces: 1 byte, 3 bytes, then the rest, each piece\n"
    "                    100 ms after the one before; with =frames, each piece only after one\n"
    "                    more frame from the client (an empty frame will do), so that the client\n"
    "                    can tell that each piece arrived on its own\n"
    "  --no-read         read nothing from a connection (its receive buffer as small as the\n"
    "                    system allows) until the client closes it; once the buffers are full,\n"
    "                    that close may never arrive\n"
    "  --audio-out=FILE  append every audio payload received to FILE\n";

constexpr useconds_t kPiecePauseMicroseconds = 100000;

struct Options {
  int port = 0;
  std::string answer = "ok";
  long after = 1;
  const char *words = nullptr;
  const char *semantic = nullptr;
  const char *score = nullptr;
  bool split = false;
  bool splitByFrames = false;  // each piece after one more client frame, not after a pause
  bool noRead = false;
  const char *audioOut = nullptr;
};

bool writeAll(int fd, const char *data, size_t size) {
  while (size > 0) {
    const ssize_t r = send(fd, data, size, MSG_NOSIGNAL);
    if (r < 0 && errno == EINTR) continue;
    if (r <= 0) return false;
    data += r;
    size -= static_cast<size_t>(r);
  }
  return true;
}

bool readAll(int fd, char *data, size_t size) {
  while (size > 0) {
    const ssize_t r = recv(fd, data, size, 0);
    if (r < 0 && errno == EINTR) continue;
    if (r <= 0) return false;
    data += r;
    size -= static_cast<size_t>(r);
  }
  return true;
}

std::string header(uint32_t n) {
  const char bytes[4] = {static_cast<char>(n >> 24), static_cast<char>(n >> 16),
                         static_cast<char>(n >> 8), static_cast<char>(n)};
  return std::string(bytes, 4);
}

// Reads one frame's payload; false when the client has gone.
bool readFrame(int fd, std::string *payload) {
  char h[4];
  if (!readAll(fd, h, 4)) return false;
  const uint32_t n = (uint32_t{static_cast<unsigned char>(h[0])} << 24) |
                     (uint32_t{static_cast<unsigned char>(h[1])} << 16) |
                     (uint32_t{static_cast<unsigned char>(h[2])} << 8) |
                     uint32_t{static_cast<unsigned char>(h[3])};
  payload->assign(n, '\0');
  return n == 0 || readAll(fd, &(*payload)[0], n);
}

std::string answerFrame(const Options &options) {
  AsrMsg message;
  const std::string &mode = options.answer;
  if (mode == "empty") return header(0);
  if (mode == "oversize") return header((1u << 20) + 1) + std::string(16, 'x');
  if (mode == "cutlength") return header(100).substr(0, 2);
  if (mode == "cutbody") return header(100) + "\x1a\x62";
  auto *response = message.mutable_response();
  if (mode != "nocode") {
    response->set_code(mode == "nomatch" ? net::zolvek::asr::message::NOMATCH
                                         : net::zolvek::asr::message::OK);
  }
  if (options.words != nullptr) response->set_words(options.words);
  if (options.semantic != nullptr) response->set_semantic(options.semantic);
  if (options.score != nullptr) response->set_score(atoi(options.score));
  std::string payload = message.SerializePartialAsString();
  // A field announced with 100 bytes that never come: the answer is cut short.
  if (mode == "malformed") payload += std::string("\x1a\x64" "cut", 5);
  return header(static_cast<uint32_t>(payload.size())) + payload;
}

// The answer as the pieces to write, the first at once and each other one after a further frame
// from the client.
std::vector<std::string> answerPieces(const Options &options) {
  const std::string frame = answerFrame(options);
  if (!options.split) return {frame};
  std::vector<std::string> pieces;
  size_t at = 0;
  for (size_t piece : {size_t{1}, size_t{3}, frame.size()}) {
    piece = std::min(piece, frame.size() - at);
    if (piece > 0) pieces.push_back(frame.substr(at, piece));
    at += piece;
  }
  return pieces;
}

// Waits, reading nothing, until the client has closed the connection.
void waitForClose(int fd) {
  struct pollfd closed = {fd, POLLRDHUP, 0};
  while (poll(&closed, 1, -1) < 0 && errno == EINTR) {
  }
}

std::string hex(const std::string &bytes) {
  static const char digits[] = "0123456789abcdef";
  std::string out;
  for (unsigned char c : bytes) {
    out += digits[c >> 4];
    out += digits[c & 15];
  }
  return out.empty() ? "-" : out;
}

void serve(int client, const Options &options, int index) {
  std::string grammar;
  long grammars = 0, frames = 0, audioBytes = 0, others = 0;
  FILE *audioOut = options.audioOut != nullptr ? fopen(options.audioOut, "ab") : nullptr;
  std::string payload;
  const std::vector<std::string> pieces = answerPieces(options);
  size_t next = 0;  // the piece of the answer to write next; past 0 once answering began

  if (options.noRead) waitForClose(client);
  while (!options.noRead && readFrame(client, &payload)) {
    AsrMsg message;
    if (!message.ParseFromString(payload)) ++others;
    if (message.has_grammar()) {
      ++grammars;
      grammar = message.grammar();
    }
    if (message.has_audio()) {
      ++frames;
      audioBytes += static_cast<long>(message.audio().size());
      if (audioOut != nullptr) fwrite(message.audio().data(), 1, message.audio().size(), audioOut);
    }
    if (next < pieces.size() && frames >= options.after && options.answer != "never") {
      if (options.answer == "close") break;
      const std::string &piece = pieces[next++];
      if (!writeAll(client, piece.data(), piece.size())) break;
      // Paced by time, the rest follows while the client waits for it (a client that reads its
      // answer sends nothing meanwhile); well within any deadline it keeps for one frame.
      bool written = true;
      while (!options.splitByFrames && written && next < pieces.size()) {
        usleep(kPiecePauseMicroseconds);
        written = writeAll(client, pieces[next].data(), pieces[next].size());
        ++next;
      }
      if (!written) break;
    }
  }
  if (audioOut != nullptr) fclose(audioOut);
  close(client);
  printf("session %d grammars %ld frames %ld audio %ld other %ld answered %d grammar %s\n", index,
         grammars, frames, audioBytes, others, next > 0 ? 1 : 0, hex(grammar).c_str());
  fflush(stdout);
}

}  // namespace

int main(int argc, char **argv) {
  Options options;
  static const struct option longOptions[] = {
      {"port", required_argument, nullptr, 'p'},     {"answer", required_argument, nullptr, 'a'},
      {"after", required_argument, nullptr, 'n'},    {"words", required_argument, nullptr, 'w'},
      {"semantic", required_argument, nullptr, 's'}, {"score", required_argument, nullptr, 'c'},
      {"split", optional_argument, nullptr, 'x'},          {"audio-out", required_argument, nullptr, 'o'},
      {"no-read", no_argument, nullptr, 'r'},
      {"help", no_argument, nullptr, 'h'},           {nullptr, 0, nullptr, 0}};
  int c;
  while ((c = getopt_long(argc, argv, "", longOptions, nullptr)) != -1) {
    switch (c) {
      case 'p': options.port = atoi(optarg); break;
      case 'a': options.answer = optarg; break;
      case 'n': options.after = atol(optarg); break;
      case 'w': options.words = optarg; break;
      case 's': options.semantic = optarg; break;
      case 'c': options.score = optarg; break;
      case 'x':
        options.split = true;
        if (optarg != nullptr && strcmp(optarg, "frames") != 0) {
          fputs(kUsage, stderr);
          return 2;
        }
        options.splitByFrames = optarg != nullptr;
        break;
      case 'r': options.noRead = true; break;
      case 'o': options.audioOut = optarg; break;
      case 'h': fputs(kUsage, stdout); return 0;
      default: fputs(kUsage, stderr); return 2;
    }
  }
  static const char *const kModes[] = {"ok",        "nomatch",  "nocode",    "empty",
                                       "never",     "close",    "malformed", "oversize",
                                       "cutlength", "cutbody"};
  bool known = false;
  for (const char *mode : kModes) known = known || options.answer == mode;
  if (!known || optind != argc) {
    fputs(kUsage, stderr);
    return 2;
  }
  signal(SIGPIPE, SIG_IGN);

  const int listener = socket(AF_INET, SOCK_STREAM, 0);
  const int on = 1;
  setsockopt(listener, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
  // Set before listen, so that every connection starts with it (and its window stays small).
  const int smallest = 1;
  if (options.noRead) setsockopt(listener, SOL_SOCKET, SO_RCVBUF, &smallest, sizeof smallest);
  struct sockaddr_in address = {};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  address.sin_port = htons(static_cast<uint16_t>(options.port));
  socklen_t length = sizeof address;
  if (bind(listener, reinterpret_cast<struct sockaddr *>(&address), sizeof address) != 0 ||
      listen(listener, 8) != 0 ||
      getsockname(listener, reinterpret_cast<struct sockaddr *>(&address), &length) != 0) {
    fprintf(stderr, "asrd: %s\n", strerror(errno));
    return 1;
  }
  printf("port %d\n", ntohs(address.sin_port));
  fflush(stdout);

  // One session at a time, as the daemon holds at most one.
  for (int index = 1;; ++index) {
    const int client = accept(listener, nullptr, nullptr);
    if (client < 0) {
      if (errno == EINTR) continue;
      fprintf(stderr, "asrd: %s\n", strerror(errno));
      return 1;
    }
    serve(client, options, index);
  }
}
