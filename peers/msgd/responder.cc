// Reply rules of the message-daemon stand-in and the step from a received message to its answers.
#include "responder.h"

#include <algorithm>
#include <cctype>

#include <google/protobuf/io/tokenizer.h>
#include <google/protobuf/text_format.h>

#include "utils.h"

namespace msgd {

namespace gp = google::protobuf;

namespace {

// Header fields (id, correlationId, interactiveId, recipient, callback) are not a kind.
constexpr int kLastHeaderField = 5;

const gp::FieldDescriptor* firstMessageField(const gp::Message& m) {
  std::vector<const gp::FieldDescriptor*> fields;
  m.GetReflection()->ListFields(m, &fields);
  for (const gp::FieldDescriptor* f : fields)
    if (f->cpp_type() == gp::FieldDescriptor::CPPTYPE_MESSAGE) return f;
  return nullptr;
}

bool hasAnswer(const Rule& r) { return r.answer.has_value(); }
bool hasFollow(const Rule& r) { return r.follow.has_value(); }
bool hasAttach(const Rule& r) { return r.attach.has_value(); }
bool hasLater(const Rule& r) { return !r.later.empty(); }

// Fields whose kind names the action that they carry, not a sub-message.
bool namedByAction(const gp::FieldDescriptor* f) {
  return f->number() == pb::NuskMsg::kInteractiveModeFieldNumber ||
         f->number() == pb::NuskMsg::kTobrelMessageQueryFieldNumber;
}

// The action's name of such a field, empty when it has none.
std::string actionName(const gp::Message& part) {
  const gp::FieldDescriptor* action = part.GetDescriptor()->FindFieldByName("action");
  if (!action || !part.GetReflection()->HasField(part, action)) return "";
  return part.GetReflection()->GetEnum(part, action)->name();
}

class CollectErrors : public gp::io::ErrorCollector {
 public:
  void AddError(int line, gp::io::ColumnNumber column, const std::string& message) override {
    if (text.empty()) text = "line " + std::to_string(line + 1) + " column " + std::to_string(column + 1) + ": " + message;
  }
  std::string text;
};

pb::NuskMsg replyTo(const std::string& requestId) {
  pb::NuskMsg m;
  m.set_id(newId());
  m.set_correlationid(requestId);
  return m;
}

void applyAnswer(const Answer& a, pb::NuskMsg* reply) {
  switch (a.kind) {
    case Answer::Kind::kCode: reply->mutable_response()->set_code(a.code); break;
    case Answer::Kind::kNoCode: reply->mutable_response(); break;
    case Answer::Kind::kBare:
    case Answer::Kind::kSilent: break;
  }
}

}  // namespace

std::string kindOf(const pb::NuskMsg& msg) {
  std::vector<const gp::FieldDescriptor*> fields;
  msg.GetReflection()->ListFields(msg, &fields);
  for (const gp::FieldDescriptor* f : fields) {
    if (f->number() <= kLastHeaderField) continue;
    if (namedByAction(f)) {
      const std::string action = actionName(msg.GetReflection()->GetMessage(msg, f));
      return action.empty() ? f->name() : f->name() + "." + action;
    }
    if (f->cpp_type() != gp::FieldDescriptor::CPPTYPE_MESSAGE) return f->name();
    const gp::FieldDescriptor* sub = firstMessageField(msg.GetReflection()->GetMessage(msg, f));
    return sub ? f->name() + "." + sub->name() : f->name();
  }
  return "-";
}

std::string checkKind(const std::string& kind) {
  if (kind == "*") return "";
  const std::string hint = "expected *, a NuskMsg field such as led or ping, or FIELD.SUB such as "
                           "multimedia.play";
  const std::string::size_type dot = kind.find('.');
  const std::string top = kind.substr(0, dot);
  const gp::FieldDescriptor* f = pb::NuskMsg::descriptor()->FindFieldByName(top);
  if (!f || f->number() <= kLastHeaderField)
    return "unknown kind '" + kind + "': " + hint;
  if (f->number() == pb::NuskMsg::kInteractiveModeFieldNumber)
    return "interactive mode is answered by the start command, not by rules";
  if (dot == std::string::npos) return "";
  const std::string subName = kind.substr(dot + 1);
  if (namedByAction(f)) {
    const gp::EnumDescriptor* actions = f->message_type()->FindFieldByName("action")->enum_type();
    if (actions->FindValueByName(subName)) return "";
    std::string names;
    for (int i = 0; i < actions->value_count(); ++i) names += (i ? ", " : "") + actions->value(i)->name();
    return "unknown kind '" + kind + "': " + top + " has no action '" + subName + "' (expected one of " + names + ")";
  }
  const gp::FieldDescriptor* sub =
      f->message_type() ? f->message_type()->FindFieldByName(subName) : nullptr;
  if (!sub || sub->cpp_type() != gp::FieldDescriptor::CPPTYPE_MESSAGE)
    return "unknown kind '" + kind + "': " + top + " has no sub-message '" + subName + "'";
  return "";
}

std::optional<pb::VReturnCode> parseCode(const std::string& text) {
  const auto digit = [](unsigned char c) { return std::isdigit(c) != 0; };
  if (!text.empty() && text.size() < 4 && std::all_of(text.begin(), text.end(), digit)) {
    const int n = std::stoi(text);
    if (pb::VReturnCode_IsValid(n)) return static_cast<pb::VReturnCode>(n);
    return std::nullopt;
  }
  std::string upper = text;
  for (char& c : upper) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  pb::VReturnCode code;
  if (pb::VReturnCode_Parse(upper, &code)) return code;
  return std::nullopt;
}

std::string newId() {
  char buf[37];
  generateUuid(buf);
  return buf;
}

bool parseMessageText(const std::string& text, pb::NuskMsg* msg, std::string* error) {
  gp::TextFormat::Parser parser;
  CollectErrors errors;
  parser.RecordErrorsTo(&errors);
  parser.AllowPartialMessage(true);
  if (parser.ParseFromString(text, msg)) return true;
  *error = "cannot read the message text: " + errors.text;
  return false;
}

std::string oneLine(const gp::Message& msg) {
  gp::TextFormat::Printer printer;
  printer.SetSingleLineMode(true);
  printer.SetUseUtf8StringEscaping(true);
  std::string text;
  printer.PrintToString(msg, &text);
  while (!text.empty() && text.back() == ' ') text.pop_back();
  return text;
}

void Responder::reset() {
  start_ = Answer{};
  rules_.clear();
}

const Rule* Responder::find(const std::string& kind, bool (*has)(const Rule&)) const {
  std::vector<std::string> names = {kind};
  const std::string::size_type dot = kind.find('.');
  if (dot != std::string::npos) names.push_back(kind.substr(0, dot));
  names.push_back("*");
  for (const std::string& n : names) {
    auto it = rules_.find(n);
    if (it != rules_.end() && has(it->second)) return &it->second;
  }
  return nullptr;
}

pb::NuskMsg Responder::startReply(const std::string& requestId, const Answer& a) const {
  pb::NuskMsg reply = replyTo(requestId);
  applyAnswer(a, &reply);
  return reply;
}

std::optional<pb::NuskMsg> Responder::answerPendingStart(const Answer& a, LinkState* link) const {
  if (link->pendingStartId.empty() || a.kind == Answer::Kind::kSilent) return std::nullopt;
  pb::NuskMsg reply = startReply(link->pendingStartId, a);
  if (a.kind == Answer::Kind::kCode && a.code == pb::OK) link->grantedId = link->pendingInteractive;
  link->pendingStartId.clear();
  link->pendingInteractive.clear();
  return reply;
}

std::vector<pb::NuskMsg> Responder::answer(const pb::NuskMsg& msg, LinkState* link) {
  std::vector<pb::NuskMsg> out;
  // Without an id nothing could name the request in a reply.
  if (!msg.has_id()) return out;

  if (msg.has_interactivemode()) {
    // A STOP from the app awaits no reply; an interactive part without action means nothing.
    const pb::InteractiveMode& im = msg.interactivemode();
    if (!im.has_action() || im.action() != pb::InteractiveMode_Action_START) return out;
    link->pendingStartId = msg.id();
    link->pendingInteractive = im.interactiveid();
    if (auto reply = answerPendingStart(start_, link)) out.push_back(std::move(*reply));
    return out;
  }

  const std::string kind = kindOf(msg);
  const Rule* attach = find(kind, hasAttach);
  const Rule* later = find(kind, hasLater);
  // The data answers what no attach rule does; it acts on every such request (a NEW is stored
  // even when its reply is silent).
  std::optional<pb::NuskMsg> result;
  if (data_ && !attach) result = data_->result(msg);
  const bool resultLater =
      later != nullptr && std::any_of(later->later.begin(), later->later.end(), [](const Later& l) { return l.fromData; });
  // By default a command is answered OK, and so is a query without interactive id (the social
  // set-up) once there is a result to attach; anything else gets no answer.
  Answer a;
  if (const Rule* r = find(kind, hasAnswer)) {
    a = *r->answer;
  } else if (!msg.has_interactiveid() && !attach && !result) {
    a.kind = Answer::Kind::kSilent;
  }
  if (a.kind != Answer::Kind::kSilent) {
    pb::NuskMsg reply = replyTo(msg.id());
    applyAnswer(a, &reply);
    if (attach) {
      reply.MergeFrom(*attach->attach);
    } else if (result && !resultLater) {
      reply.MergeFrom(*result);
    }
    out.push_back(std::move(reply));

    if (const Rule* r = find(kind, hasFollow)) {
      pb::NuskMsg event = replyTo(msg.id());
      *event.mutable_event() = *r->follow;
      out.push_back(std::move(event));
    }
  }
  // Later results go out whatever the reply was: "reply KIND silent" leaves only them.
  if (later) {
    for (const Later& l : later->later) {
      if (l.fromData && !result) continue;
      pb::NuskMsg m = replyTo(msg.id());
      m.MergeFrom(l.fromData ? *result : l.msg);
      out.push_back(std::move(m));
    }
  }
  return out;
}

}  // namespace msgd
