// The stand-in's data file: device information pairs, a contact list and a small message
// store, read from one NuskMsg in text form, e.g.
//   tobrelinfo_response { infos { key: "serial" value: "0042" } }
//   contactList { contacts { firstname: "Ana" uuid: "c1" objects { idDB: "7" name: "phone" } } }
//   tobrelMessageResponse { tobrelMessageList { header { id: "m1" to { uuid: "me" } } content { type: TEXT content: "hi" } } }
// Message queries change the store in memory only; the file is never written.
#pragma once

#include <optional>
#include <string>

#include "nusk-message.pb.h"

namespace msgd {

namespace pb = net::zolvek::nusk::message;

class DataStore {
 public:
  // Reads the file, or the text; false with the reason in *error.
  bool load(const std::string& path, std::string* error);
  bool loadText(const std::string& text, std::string* error);

  // The result parts of a reply to `request`, or nullopt when the data has nothing for it:
  //   tobrelinfo_query             -> tobrelinfo_response (only when the file has one)
  //   getcontactList               -> contactList (only when the file has one)
  //   tobrelMessageQuery LIST      -> every stored message
  //   tobrelMessageQuery GET       -> the stored messages with the request's ids, in its order
  //   tobrelMessageQuery DELETE    -> the messages removed
  //   tobrelMessageQuery READ      -> the messages marked READ
  //   tobrelMessageQuery NEW       -> the message as stored: a fresh header id ("mN") when it
  //                                   has none, the date now and status UNREAD when unset
  std::optional<pb::NuskMsg> result(const pb::NuskMsg& request);

  // The messages stored now, in order.
  const pb::TobrelMessageResponse& messages() const { return data_.tobrelmessageresponse(); }

 private:
  pb::TobrelMessage* find(const std::string& id);
  std::string freshId();

  pb::NuskMsg data_;
  int nextId_ = 1;
};

}  // namespace msgd
