// Parsing and carrying out the stand-in's control lines.
#include "control.h"

#include <cerrno>
#include <cstdlib>
#include <sstream>

#include <google/protobuf/text_format.h>

namespace msgd {

namespace gp = google::protobuf;

namespace {

using Result = Control::Result;

Result fail(const std::string& error) {
  Result r;
  r.ok = false;
  r.error = error;
  return r;
}

// The first `n` words of `line` and, in `rest`, what follows them (trimmed).
std::vector<std::string> head(const std::string& line, size_t n, std::string* rest) {
  std::vector<std::string> words;
  size_t pos = 0;
  while (words.size() < n) {
    pos = line.find_first_not_of(" \t", pos);
    if (pos == std::string::npos) break;
    size_t end = line.find_first_of(" \t", pos);
    if (end == std::string::npos) end = line.size();
    words.push_back(line.substr(pos, end - pos));
    pos = end;
  }
  pos = line.find_first_not_of(" \t", pos);
  *rest = pos == std::string::npos ? "" : line.substr(pos);
  while (!rest->empty() && (rest->back() == ' ' || rest->back() == '\t')) rest->pop_back();
  return words;
}

std::vector<std::string> words(const std::string& line) {
  std::istringstream in(line);
  std::vector<std::string> out;
  for (std::string w; in >> w;) out.push_back(w);
  return out;
}

std::string codeNames() {
  std::string names;
  const gp::EnumDescriptor* e = pb::VReturnCode_descriptor();
  for (int i = 0; i < e->value_count(); ++i) names += (i ? ", " : "") + e->value(i)->name();
  return names;
}

std::string badCode(const std::string& text) {
  return "unknown result code '" + text + "' (expected one of " + codeNames() + ")";
}

// CODE, nocode, bare or silent.
std::optional<Answer> parseAnswer(const std::string& text) {
  Answer a;
  if (text == "nocode") {
    a.kind = Answer::Kind::kNoCode;
  } else if (text == "bare") {
    a.kind = Answer::Kind::kBare;
  } else if (text == "silent") {
    a.kind = Answer::Kind::kSilent;
  } else if (auto code = parseCode(text)) {
    a.code = *code;
  } else {
    return std::nullopt;
  }
  return a;
}

// Sets one scalar field from its text; returns an error text, empty on success.
std::string setField(gp::Message* m, const gp::FieldDescriptor* f, const std::string& text) {
  const gp::Reflection* r = m->GetReflection();
  auto integer = [&](long long lo, long long hi, long long* out) {
    errno = 0;
    char* end = nullptr;
    *out = std::strtoll(text.c_str(), &end, 10);
    return !text.empty() && *end == '\0' && errno == 0 && *out >= lo && *out <= hi;
  };
  long long n = 0;
  switch (f->cpp_type()) {
    case gp::FieldDescriptor::CPPTYPE_STRING: r->SetString(m, f, text); return "";
    case gp::FieldDescriptor::CPPTYPE_INT32:
      if (!integer(INT32_MIN, INT32_MAX, &n)) return f->name() + " must be a 32-bit integer";
      r->SetInt32(m, f, static_cast<int32_t>(n));
      return "";
    case gp::FieldDescriptor::CPPTYPE_ENUM: {
      std::string upper = text;
      for (char& c : upper) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
      const gp::EnumValueDescriptor* v = f->enum_type()->FindValueByName(upper);
      if (!v && integer(INT32_MIN, INT32_MAX, &n)) v = f->enum_type()->FindValueByNumber(int(n));
      if (!v) {
        std::string names;
        for (int i = 0; i < f->enum_type()->value_count(); ++i)
          names += (i ? ", " : "") + f->enum_type()->value(i)->name();
        return "unknown " + f->name() + " '" + text + "' (expected one of " + names + ")";
      }
      r->SetEnum(m, f, v);
      return "";
    }
    default: return f->name() + " cannot be given on a control line";
  }
}

// Unsolicited device events: the command, the NuskMsg field it fills (and the sub-message
// inside it), and its positional arguments. A last text argument takes the rest of the line.
struct EventCommand {
  const char* verb;
  const char* field;
  const char* sub;
  std::vector<const char*> args;
};
const std::vector<EventCommand>& eventCommands() {
  static const std::vector<EventCommand> table = {
      {"button", "buttonCallback", nullptr, {"type"}},
      {"ears", "earsCallback", nullptr, {"type", "step", "length"}},
      {"rfid", "rfidCallback", nullptr, {"id", "direction", "type", "color"}},
      {"multimedia", "multimediaCallback", nullptr, {"action"}},
      {"t2t", "t2tCallback", nullptr, {"type", "correspondant"}},
      {"serial", "serialCallback", "readline", {"port", "data"}},
  };
  return table;
}

std::string usageOf(const EventCommand& c) {
  std::string u = std::string(c.verb) + " CONN";
  for (const char* a : c.args) u += std::string(" ") + a;
  return u;
}

}  // namespace

const char* Control::helpText() {
  return
      "Control lines (standard input or --exec), one command each; CONN is a connection number,\n"
      "\"last\" (the newest open one) or \"all\". Each line is answered by \"ok: LINE\" or\n"
      "\"error: MESSAGE\". CODE is a result code name (OK, ERROR, TIMEOUT, TERMINATED, ...).\n"
      "  start grant                 answer interactiveMode START with response OK (the default)\n"
      "  start refuse [CODE]         answer START with another code (default ERROR)\n"
      "  start nocode | bare         answer START with a response without code | no response\n"
      "  start silent                never answer a START\n"
      "  grant CONN [CODE|nocode|bare]  answer the unanswered START of CONN now (default OK)\n"
      "  reply KIND CODE|nocode|bare|silent|default\n"
      "                              how to answer requests of KIND: a NuskMsg field (led, tts,\n"
      "                              ping, getcontactList ...), FIELD.SUB (multimedia.play,\n"
      "                              led.light ...) or * for any; FIELD.SUB wins over FIELD over *.\n"
      "                              Message queries are named by action: tobrelMessageQuery.NEW,\n"
      "                              .LIST, .GET, .DELETE, .READ.\n"
      "                              Without a rule, a request is answered OK when it carries an\n"
      "                              interactiveId or has something attached, else not at all.\n"
      "  follow KIND CODE [TEXT]     after the reply, send an event with CODE (and description)\n"
      "  follow KIND none            no event after the reply\n"
      "  attach KIND MESSAGE         merge MESSAGE (NuskMsg text form) into replies, e.g.\n"
      "                              attach tobrelinfo_query tobrelinfo_response { infos { key: \"k\" value: \"v\" } }\n"
      "  attach KIND none            stop attaching\n"
      "  later KIND MESSAGE          after the reply (and its event), send MESSAGE on its own under\n"
      "                              the request's id; each later line adds one more, in order, and\n"
      "                              they go out even when the reply is silent\n"
      "  later KIND data             the same with the data file's result, which then leaves the\n"
      "                              reply: response first, result later\n"
      "  later KIND none             send nothing later\n"
      "  reset                       forget all rules: START granted, commands answered OK (the\n"
      "                              data file's content stays as the requests left it)\n"
      "  button CONN TYPE            buttonCallback event (SIMPLE, DOUBLE, LONG_START ...)\n"
      "  ears CONN TYPE [STEP [LENGTH]]  earsCallback event (START_LEFT, BLOCKED_RIGHT ...)\n"
      "  rfid CONN ID [DIRECTION [TYPE [COLOR]]]  rfidCallback event (IN/OUT, LAMINA, RED ...)\n"
      "  multimedia CONN ACTION      multimediaCallback event (PLAY, STOP, MUSIC_UPDATE ...)\n"
      "  t2t CONN TYPE CORRESPONDANT t2tCallback event (INCOMING, BEGINNING, TERMINATED)\n"
      "  serial CONN PORT DATA...    serialCallback line\n"
      "  stop CONN                   interactiveMode STOP under the connection's granted id\n"
      "  send CONN MESSAGE           any NuskMsg in text form; an id is added when missing\n"
      "  close CONN                  close the connection\n"
      "  list                        one \"conn N ...\" line per open connection\n"
      "  help                        this text\n"
      "  quit                        stop the stand-in\n"
      "Empty lines and lines starting with # are ignored.\n";
}

std::vector<int> Control::targets(const std::string& conn, std::string* error) const {
  const std::vector<int> open = links_.open();
  if (conn == "all") {
    if (open.empty()) *error = "no connection is open";
    return open;
  }
  if (conn == "last") {
    if (open.empty()) {
      *error = "no connection is open";
      return {};
    }
    return {open.back()};
  }
  char* end = nullptr;
  errno = 0;
  const long n = std::strtol(conn.c_str(), &end, 10);
  if (conn.empty() || *end != '\0' || errno != 0 || n <= 0) {
    *error = "bad connection '" + conn + "' (expected a number, last or all)";
    return {};
  }
  for (int c : open)
    if (c == n) return {c};
  *error = "connection " + conn + " is not open";
  return {};
}

Result Control::run(const std::string& rawLine) {
  std::string line = rawLine;
  if (!line.empty() && line.back() == '\r') line.pop_back();
  std::string rest;
  std::vector<std::string> verbWords = head(line, 1, &rest);
  if (verbWords.empty() || verbWords[0][0] == '#') return Result{};
  const std::string& verb = verbWords[0];
  const std::vector<std::string> args = words(rest);

  if (verb == "start") return startCommand(args);
  if (verb == "grant") return grantCommand(args);
  if (verb == "reply" || verb == "follow" || verb == "attach" || verb == "later") return ruleCommand(verb, rest);
  if (verb == "send") return sendCommand(rest);
  if (verb == "stop") return stopCommand(args);
  if (verb == "close") return closeCommand(args);
  if (verb == "reset") {
    if (!args.empty()) return fail("reset takes no argument");
    responder_.reset();
    return Result{};
  }
  if (verb == "list") {
    Result r;
    for (int c : links_.open()) r.lines.push_back(links_.describe(c));
    return r;
  }
  if (verb == "help") {
    Result r;
    std::istringstream in(helpText());
    for (std::string l; std::getline(in, l);) r.lines.push_back(l);
    return r;
  }
  if (verb == "quit") {
    links_.quit();
    return Result{};
  }
  bool known = false;
  Result r = eventCommand(verb, rest, &known);
  if (known) return r;
  return fail("unknown command '" + verb + "' (try help)");
}

Result Control::startCommand(const std::vector<std::string>& args) {
  const char* usage = "usage: start grant | refuse [CODE] | nocode | bare | silent";
  if (args.empty()) return fail(usage);
  Answer a;
  const std::string& how = args[0];
  if (how == "grant" && args.size() == 1) {
    a.code = pb::OK;
  } else if (how == "refuse" && args.size() <= 2) {
    a.code = pb::ERROR;
    if (args.size() == 2) {
      auto code = parseCode(args[1]);
      if (!code) return fail(badCode(args[1]));
      if (*code == pb::OK) return fail("refuse needs a code other than OK");
      a.code = *code;
    }
  } else if ((how == "nocode" || how == "bare" || how == "silent") && args.size() == 1) {
    a = *parseAnswer(how);
  } else {
    return fail(usage);
  }
  responder_.setStartAnswer(a);
  return Result{};
}

Result Control::grantCommand(const std::vector<std::string>& args) {
  if (args.empty() || args.size() > 2) return fail("usage: grant CONN [CODE|nocode|bare]");
  Answer a;
  if (args.size() == 2) {
    auto parsed = parseAnswer(args[1]);
    if (!parsed || parsed->kind == Answer::Kind::kSilent) return fail(badCode(args[1]));
    a = *parsed;
  }
  std::string error;
  const std::vector<int> conns = targets(args[0], &error);
  if (!error.empty()) return fail(error);
  for (int c : conns)
    if (links_.state(c)->pendingStartId.empty())
      return fail("connection " + std::to_string(c) + " has no unanswered START");
  for (int c : conns)
    if (auto reply = responder_.answerPendingStart(a, links_.state(c))) links_.send(c, *reply);
  return Result{};
}

Result Control::ruleCommand(const std::string& verb, const std::string& line) {
  std::string rest;
  const bool takesMessage = verb == "attach" || verb == "later";
  const std::vector<std::string> w = head(line, takesMessage ? 1 : 2, &rest);
  const std::string usage = verb == "reply"    ? "usage: reply KIND CODE|nocode|bare|silent|default"
                            : verb == "follow" ? "usage: follow KIND CODE [DESCRIPTION] | follow KIND none"
                            : verb == "attach" ? "usage: attach KIND MESSAGE | attach KIND none"
                                               : "usage: later KIND MESSAGE | later KIND data | later KIND none";
  if (w.empty() || (!takesMessage && w.size() < 2) || (takesMessage && rest.empty())) return fail(usage);
  const std::string& kind = w[0];
  if (std::string e = checkKind(kind); !e.empty()) return fail(e);

  if (verb == "reply") {
    if (!rest.empty()) return fail(usage);
    if (w[1] == "default") {
      responder_.rule(kind).answer.reset();
      return Result{};
    }
    auto a = parseAnswer(w[1]);
    if (!a) return fail(badCode(w[1]));
    responder_.rule(kind).answer = *a;
    return Result{};
  }
  if (verb == "follow") {
    if (w[1] == "none") {
      if (!rest.empty()) return fail(usage);
      responder_.rule(kind).follow.reset();
      return Result{};
    }
    auto code = parseCode(w[1]);
    if (!code) return fail(badCode(w[1]));
    pb::Event event;
    event.set_code(*code);
    if (!rest.empty()) event.set_description(rest);
    responder_.rule(kind).follow = event;
    return Result{};
  }
  Rule& rule = responder_.rule(kind);
  if (rest == "none") {
    if (verb == "attach") rule.attach.reset();
    if (verb == "later") rule.later.clear();
    return Result{};
  }
  if (verb == "later" && rest == "data") {
    rule.later.push_back(Later{true, {}});
    return Result{};
  }
  pb::NuskMsg attach;
  std::string error;
  if (!parseMessageText(rest, &attach, &error)) return fail(error);
  // The reply's own header stays the stand-in's: ids come from the request.
  attach.clear_id();
  attach.clear_correlationid();
  if (verb == "attach") {
    rule.attach = attach;
  } else {
    rule.later.push_back(Later{false, attach});
  }
  return Result{};
}

Result Control::eventCommand(const std::string& verb, const std::string& line, bool* known) {
  const EventCommand* cmd = nullptr;
  for (const EventCommand& c : eventCommands())
    if (verb == c.verb) cmd = &c;
  *known = cmd != nullptr;
  if (!cmd) return Result{};

  const std::string usage = "usage: " + usageOf(*cmd);
  std::string rest;
  std::vector<std::string> w = head(line, 1, &rest);
  if (w.empty()) return fail(usage);
  const std::string conn = w[0];

  pb::NuskMsg msg;
  msg.set_id(newId());
  const gp::FieldDescriptor* top = pb::NuskMsg::descriptor()->FindFieldByName(cmd->field);
  gp::Message* target = msg.GetReflection()->MutableMessage(&msg, top);
  if (cmd->sub) {
    target = target->GetReflection()->MutableMessage(
        target, target->GetDescriptor()->FindFieldByName(cmd->sub));
  }
  for (size_t i = 0; i < cmd->args.size() && !rest.empty(); ++i) {
    const gp::FieldDescriptor* f = target->GetDescriptor()->FindFieldByName(cmd->args[i]);
    const bool last = i + 1 == cmd->args.size();
    std::string value;
    if (last && f->cpp_type() == gp::FieldDescriptor::CPPTYPE_STRING) {
      value = rest;
      rest.clear();
    } else {
      w = head(rest, 1, &rest);
      value = w[0];
    }
    if (std::string e = setField(target, f, value); !e.empty()) return fail(e);
  }
  if (!rest.empty()) return fail("too many arguments; " + usage);
  if (!target->IsInitialized())
    return fail("missing " + target->InitializationErrorString() + "; " + usage);

  std::string error;
  const std::vector<int> conns = targets(conn, &error);
  if (!error.empty()) return fail(error);
  for (int c : conns) {
    msg.set_id(newId());
    links_.send(c, msg);
  }
  return Result{};
}

Result Control::sendCommand(const std::string& line) {
  std::string rest;
  const std::vector<std::string> w = head(line, 1, &rest);
  if (w.empty()) return fail("usage: send CONN MESSAGE");
  pb::NuskMsg msg;
  std::string error;
  if (!parseMessageText(rest, &msg, &error)) return fail(error);
  const std::vector<int> conns = targets(w[0], &error);
  if (!error.empty()) return fail(error);
  const bool freshIds = !msg.has_id();
  for (int c : conns) {
    if (freshIds) msg.set_id(newId());
    links_.send(c, msg);
  }
  return Result{};
}

Result Control::stopCommand(const std::vector<std::string>& args) {
  if (args.size() != 1) return fail("usage: stop CONN");
  std::string error;
  const std::vector<int> conns = targets(args[0], &error);
  if (!error.empty()) return fail(error);
  for (int c : conns) {
    pb::NuskMsg msg;
    msg.set_id(newId());
    pb::InteractiveMode* im = msg.mutable_interactivemode();
    im->set_action(pb::InteractiveMode_Action_STOP);
    const std::string& granted = links_.state(c)->grantedId;
    if (!granted.empty()) im->set_interactiveid(granted);
    links_.send(c, msg);
  }
  return Result{};
}

Result Control::closeCommand(const std::vector<std::string>& args) {
  if (args.size() != 1) return fail("usage: close CONN");
  std::string error;
  const std::vector<int> conns = targets(args[0], &error);
  if (!error.empty()) return fail(error);
  for (int c : conns) links_.close(c, "by control command");
  return Result{};
}

}  // namespace msgd
