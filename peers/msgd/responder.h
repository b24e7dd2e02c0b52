// How the message-daemon stand-in answers what an app sends: the reply rules that its control
// lines set, and the pure step from one received message to the messages that go back.
#pragma once

#include <map>
#include <optional>
#include <string>
#include <vector>

#include "data_store.h"
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

// A message sent on its own after the reply (and its event), naming the same request: a fixed
// message, or the data file's result for the request.
struct Later {
  bool fromData = false;
  pb::NuskMsg msg;
};

struct Rule {
  std::optional<Answer> answer;         // unset: the default for the request
  std::optional<pb::Event> follow;      // an event sent after the reply
  std::optional<pb::NuskMsg> attach;    // merged into the reply
  std::vector<Later> later;             // sent after the reply, in order
};

// The kind of a message: its first sub-message field, with the first message-typed field set
// inside it ("led.light", "multimedia.play", "ping"); interactive-mode parts and message queries
// name their action ("interactiveMode.START", "tobrelMessageQuery.LIST"). "-" when nothing but
// the header fields is set.
std::string kindOf(const pb::NuskMsg& msg);

// Checks a rule's kind name: "*", a NuskMsg field, or FIELD.SUB with SUB a message field inside
// it (or, for tobrelMessageQuery, an action). Returns an error text, empty when valid.
std::string checkKind(const std::string& kind);

// Parses "OK", "error", "7" ... into a result code.
std::optional<pb::VReturnCode> parseCode(const std::string& text);

// A fresh lowercase 36-character UUID text.
std::string newId();

// Parses a NuskMsg text form; required fields may be missing (tests send odd messages too).
// On failure *error says where.
bool parseMessageText(const std::string& text, pb::NuskMsg* msg, std::string* error);

// One line of text form, for the transcript.
std::string oneLine(const google::protobuf::Message& msg);

class Responder {
 public:
  // START answers: grant (OK), a refusal code, no code, or silence.
  void setStartAnswer(const Answer& a) { start_ = a; }
  const Answer& startAnswer() const { return start_; }

  Rule& rule(const std::string& kind) { return rules_[kind]; }
  // Forgets the rules; the data (and what requests did to it) stays.
  void reset();

  // Queries that no attach rule answers are answered from `data` (device information,
  // contacts, the message store).
  void setData(DataStore data) { data_ = std::move(data); }

  // Everything to send back for `msg`, in order. Updates `link` for START requests and the
  // data's message store for message queries.
  std::vector<pb::NuskMsg> answer(const pb::NuskMsg& msg, LinkState* link);

  // The reply that grants (or refuses) the pending START of `link`, if there is one.
  std::optional<pb::NuskMsg> answerPendingStart(const Answer& a, LinkState* link) const;

 private:
  // The rule fields that apply to `kind`: "F.G", then "F", then "*".
  const Rule* find(const std::string& kind, bool (*has)(const Rule&)) const;
  pb::NuskMsg startReply(const std::string& requestId, const Answer& a) const;

  Answer start_;
  std::map<std::string, Rule> rules_;
  std::optional<DataStore> data_;
};

}  // namespace msgd
