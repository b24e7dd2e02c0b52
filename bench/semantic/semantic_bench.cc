// Hostile semantic documents: for each, the time parseSemantic takes and how far the resident
// size grows above where it stood before the call (peak minus start, from /proc), measured in a
// child of its own under an app isolate, the log dropped but for the first DEBUG line, shown
// when the document is not converted. A case still running after the limit is killed and
// reported so.
//
//   semantic_bench [LIMIT_SECONDS]     (default 120)
#include <glib.h>
#include <iconv.h>
#include <signal.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <fstream>
#include <string>
#include <vector>

#include <v8.h>

#include "engine.h"
#include "semantic.h"

namespace {

double nowMs() {
  timespec t;
  clock_gettime(CLOCK_MONOTONIC, &t);
  return t.tv_sec * 1e3 + t.tv_nsec / 1e6;
}

long statusKb(const char* field) {
  std::ifstream file("/proc/self/status");
  for (std::string line; std::getline(file, line);)
    if (line.compare(0, strlen(field), field) == 0) return atol(line.c_str() + strlen(field) + 1);
  return -1;
}

// The first DEBUG line of the parse (a refusal, or libxml2's first error); the rest is dropped.
std::string g_firstDebug;
void keepFirstDebug(const gchar*, GLogLevelFlags level, const gchar* message, gpointer) {
  if ((level & G_LOG_LEVEL_DEBUG) != 0 && g_firstDebug.empty()) g_firstDebug = message;
}

// " a0=\"\" a1=\"\" ..." with `count` attributes named `prefix`N.
std::string attributes(int count, const char* prefix = "a", const char* value = "") {
  std::string out;
  for (int i = 0; i < count; ++i) out += std::string(" ") + prefix + std::to_string(i) + "=\"" + value + "\"";
  return out;
}

std::string repeat(const std::string& piece, int times) {
  std::string out;
  out.reserve(piece.size() * static_cast<size_t>(times));
  for (int i = 0; i < times; ++i) out += piece;
  return out;
}

std::string wide(int count) { return "<semantic" + attributes(count) + "><c>1</c></semantic>"; }

// The text in IBM037 (EBCDIC), or empty when the system cannot convert it.
std::string ebcdic(const std::string& text) {
  iconv_t cd = iconv_open("IBM037", "UTF-8");
  if (cd == reinterpret_cast<iconv_t>(-1)) return "";
  std::string out(text.size(), '\0');  // one byte for each of these characters
  char* in = const_cast<char*>(text.data());
  char* to = &out[0];
  size_t inLeft = text.size(), outLeft = out.size();
  const bool done = iconv(cd, &in, &inLeft, &to, &outLeft) != static_cast<size_t>(-1);
  iconv_close(cd);
  out.resize(done ? out.size() - outLeft : 0);
  return out;
}

struct Case {
  const char* name;
  std::string text;
};

std::vector<Case> cases() {
  std::vector<Case> all;
  all.push_back({"one tag, 12,500 attributes", wide(12500)});
  all.push_back({"one tag, 100,000 attributes", wide(100000)});
  all.push_back({"one tag, 100,000 namespace declarations",
                 "<semantic" + attributes(100000, "xmlns:p", "u") + "><c>1</c></semantic>"});
  all.push_back({"ATTLIST namespace default, 10,000 elements",
                 "<!DOCTYPE s [<!ATTLIST b xmlns CDATA \"" + std::string(50000, 'x') + "\">]><s>" +
                     repeat("<b/>", 10000) + "</s>"});
  all.push_back({"100,000 attributes in IBM037",
                 ebcdic("<?xml version=\"1.0\" encoding=\"IBM037\"?>" + wide(100000))});
  all.push_back({"100,000 attributes after a control character in a comment",
                 "<semantic><!-- \x01 <c" + attributes(100000) + "/> --></semantic>"});
  // 250 levels, each declaring 1,000 namespaces, then 100,000 empty children at the bottom.
  all.push_back({"250 x 1,000 nested namespaces, 100,000 children",
                 repeat("<n" + attributes(1000, "xmlns:p", "u") + ">", 250) + repeat("<c/>", 100000) +
                     repeat("</n>", 250)});
  // The same, at the bounds: 4 declarations on each of 250 levels, 1,000 in all.
  all.push_back({"250 x 4 nested namespaces, 4,000,000 children",
                 repeat("<n" + attributes(4, "xmlns:p", "u") + ">", 250) + repeat("<c/>", 4000000) +
                     repeat("</n>", 250)});
  // As much as one frame may carry, in start tags of 1,000 attributes each.
  std::string tags = "<semantic>";
  const std::string tag = "<c" + attributes(1000) + "/>";
  while (tags.size() + tag.size() < 16u * 1024 * 1024 - 64) tags += tag;
  all.push_back({"16 MiB of tags with 1,000 attributes", tags + "</semantic>"});
  all.push_back({"16 MiB of empty elements", "<semantic>" + repeat("<c/>", 4 * 1024 * 1024 - 8) + "</semantic>"});
  return all;
}

// In the child: one parse, its time and growth on standard output.
void measure(const Case& c) {
  g_log_set_default_handler(keepFirstDebug, nullptr);
  v8::Isolate* isolate = newAppIsolate();
  {
    v8::Isolate::Scope isolateScope(isolate);
    v8::HandleScope scope(isolate);
    v8::Local<v8::Context> context = v8::Context::New(isolate);
    v8::Context::Scope contextScope(context);
    v8::Local<v8::Object> target = v8::Object::New(isolate);
    const long before = statusKb("VmRSS:");
    const double start = nowMs();
    parseSemantic(isolate, c.text.c_str(), target);
    const double ms = nowMs() - start;
    const long peak = statusKb("VmHWM:");
    v8::Local<v8::Array> names;
    const bool converted = target->GetOwnPropertyNames(context).ToLocal(&names) && names->Length() > 0;
    const std::string why = g_firstDebug.substr(0, 60);
    printf("%-58s %9zu bytes %10.1f ms %8ld kB more   %s\n", c.name, c.text.size(), ms, peak - before,
           converted ? "converted" : ("not converted: " + why).c_str());
  }
  fflush(stdout);
  _exit(0);
}

}  // namespace

int main(int argc, char** argv) {
  const int limit = argc > 1 ? atoi(argv[1]) : 120;
  if (limit <= 0) {
    fprintf(stderr, "usage: %s [LIMIT_SECONDS]\n", argv[0]);
    return 2;
  }
  initEngine();
  for (const Case& c : cases()) {
    fflush(stdout);
    const pid_t pid = fork();
    if (pid == 0) measure(c);
    const double start = nowMs();
    int status = 0;
    while (waitpid(pid, &status, WNOHANG) == 0) {
      if (nowMs() - start > limit * 1e3) {
        kill(pid, SIGKILL);
        waitpid(pid, &status, 0);
        printf("%-58s %9zu bytes   over %d s, killed\n", c.name, c.text.size(), limit);
        break;
      }
      usleep(20000);
    }
  }
  return 0;
}
