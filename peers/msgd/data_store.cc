// The data file's answers to device-information, contact and message queries.
#include "data_store.h"

#include <ctime>
#include <fstream>
#include <sstream>

#include "responder.h"

namespace msgd {

bool DataStore::load(const std::string& path, std::string* error) {
  std::ifstream in(path);
  if (!in) {
    *error = "cannot read the data file " + path;
    return false;
  }
  std::ostringstream text;
  text << in.rdbuf();
  if (loadText(text.str(), error)) return true;
  *error = path + ": " + *error;
  return false;
}

bool DataStore::loadText(const std::string& text, std::string* error) {
  pb::NuskMsg data;
  if (!parseMessageText(text, &data, error)) return false;
  data_ = std::move(data);
  data_.mutable_tobrelmessageresponse();  // the store exists, even when it starts empty
  return true;
}

pb::TobrelMessage* DataStore::find(const std::string& id) {
  for (pb::TobrelMessage& m : *data_.mutable_tobrelmessageresponse()->mutable_tobrelmessagelist())
    if (m.header().id() == id) return &m;
  return nullptr;
}

std::string DataStore::freshId() {
  for (;;) {
    const std::string id = "m" + std::to_string(nextId_++);
    if (!find(id)) return id;
  }
}

std::optional<pb::NuskMsg> DataStore::result(const pb::NuskMsg& request) {
  pb::NuskMsg out;
  if (request.has_tobrelinfo_query()) {
    if (!data_.has_tobrelinfo_response()) return std::nullopt;
    *out.mutable_tobrelinfo_response() = data_.tobrelinfo_response();
    return out;
  }
  if (request.has_getcontactlist()) {
    if (!data_.has_contactlist()) return std::nullopt;
    *out.mutable_contactlist() = data_.contactlist();
    return out;
  }
  // A query without its action (a frame lacking required fields) asks for nothing.
  if (!request.has_tobrelmessagequery() || !request.tobrelmessagequery().has_action()) return std::nullopt;
  const pb::TobrelMessageQuery& query = request.tobrelmessagequery();
  auto* store = data_.mutable_tobrelmessageresponse()->mutable_tobrelmessagelist();
  auto* list = out.mutable_tobrelmessageresponse()->mutable_tobrelmessagelist();
  switch (query.action()) {
    case pb::TobrelMessageQuery::NEW: {
      pb::TobrelMessage* added = store->Add();
      *added = query.message();
      pb::TobrelMessageHeader* header = added->mutable_header();
      if (header->id().empty()) header->set_id(freshId());
      if (!header->has_date()) header->set_date(static_cast<int32_t>(std::time(nullptr)));
      if (!header->has_status()) header->set_status(pb::TobrelMessageHeader::UNREAD);
      *list->Add() = *added;
      break;
    }
    case pb::TobrelMessageQuery::LIST: *list = *store; break;
    case pb::TobrelMessageQuery::GET:
      for (const std::string& id : query.id())
        if (pb::TobrelMessage* m = find(id)) *list->Add() = *m;
      break;
    case pb::TobrelMessageQuery::READ:
      for (const std::string& id : query.id()) {
        if (pb::TobrelMessage* m = find(id)) {
          m->mutable_header()->set_status(pb::TobrelMessageHeader::READ);
          *list->Add() = *m;
        }
      }
      break;
    case pb::TobrelMessageQuery::DELETE:
      for (const std::string& id : query.id()) {
        for (int i = 0; i < store->size(); ++i) {
          if (store->Get(i).header().id() != id) continue;
          *list->Add() = store->Get(i);
          store->DeleteSubrange(i, 1);
          break;
        }
      }
      break;
  }
  return out;
}

}  // namespace msgd
