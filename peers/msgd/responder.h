// How the message-daemon stand-in answers what an app sends: the reply rules that its control
// lines set, and the pure step from one received message to the messages that go back.
#pragma once

#include <map>
#include <optional>
#include <string>
#include <vector>

#include "nusk-message.pb.h"

namespace msgd {

namespace pb = net::zolvek::nusk::message;

// What an app connection has been granted and is still waiting for.
struct LinkState {
  std::string grantedId;         // interactive id of the last granted START, empty before
  std::string pendingStartId;    // message id of a START not answered yet
  std::string pendingInteractive;  // the interactive id that START asked for
};

// One way of answering: a response with a code, a response without one, a reply with no
// response part at all, or nothing.
struct Answer {
  enum class Kind { kCode, kNoCode, kBare, kSilent };
  Kind kind = Kind::kCode;
  pb::VReturnCode code = pb::OK;
};

struct Rule {
  std::optional<Answer> answer;         // unset: the default for the request
  std::optional<pb::Event> follow;      // an event sent after the reply
  std::optional<pb::NuskMsg> attach;    // merged into the reply
};

// The kind of a message: its first sub-message field, with the first message-typed field set
// inside it ("led.light", "multimedia.play", "ping"); interactive-mode parts name their action
// ("interactiveMode.START"). "-" when nothing but the header fields is set.
std::string kindOf(const pb::NuskMsg& msg);

// Checks a rule's kind name: "*", a NuskMsg field, or FIELD.SUB with SUB a message field inside
// it. Returns an error text, empty when valid.
std::string checkKind(const std::string& kind);

// Parses "OK", "error", "7" ... into a result code.
std::optional<pb::VReturnCode> parseCode(const std::string& text);

// A fresh lowercase 36-character UUID text.
std::string newId();

// One line of text form, for the transcript.
std::string oneLine(const google::protobuf::Message& msg);

class Responder {
 public:
  // START answers: grant (OK), a refusal code, no code, or silence.
  void setStartAnswer(const Answer& a) { start_ = a; }
  const Answer& startAnswer() const { return start_; }

  Rule& rule(const std::string& kind) { return rules_[kind]; }
  void reset();

  // Everything to send back for `msg`, in order. Updates `link` for START requests.
  std::vector<pb::NuskMsg> answer(const pb::NuskMsg& msg, LinkState* link) const;

  // The reply that grants (or refuses) the pending START of `link`, if there is one.
  std::optional<pb::NuskMsg> answerPendingStart(const Answer& a, LinkState* link) const;

 private:
  // The rule fields that apply to `kind`: "F.G", then "F", then "*".
  const Rule* find(const std::string& kind, bool (*has)(const Rule&)) const;
  pb::NuskMsg startReply(const std::string& requestId, const Answer& a) const;

  Answer start_;
  std::map<std::string, Rule> rules_;
};

}  // namespace msgd
