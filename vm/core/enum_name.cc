// Enum names for scripts, read through the message's reflection so that one function serves
// every listener and reply handler whatever the enum type.
#include "enum_name.h"

#include <glib.h>
#include <google/protobuf/descriptor.h>
#include <google/protobuf/message.h>
#include <google/protobuf/unknown_field_set.h>

namespace gp = google::protobuf;

namespace {

// The last number that the parser set aside for `field`, if any.
bool unknownNumber(const gp::Message& msg, int field, uint64_t* number) {
  const gp::UnknownFieldSet& unknown = msg.GetReflection()->GetUnknownFields(msg);
  bool found = false;
  for (int i = 0; i < unknown.field_count(); ++i) {
    const gp::UnknownField& f = unknown.field(i);
    if (f.number() != field || f.type() != gp::UnknownField::TYPE_VARINT) continue;
    *number = f.varint();
    found = true;
  }
  return found;
}

}  // namespace

std::string enumName(const gp::Message& msg, int field, const char* absent) {
  const gp::FieldDescriptor* descriptor = msg.GetDescriptor()->FindFieldByNumber(field);
  if (descriptor == nullptr || descriptor->cpp_type() != gp::FieldDescriptor::CPPTYPE_ENUM) {
    g_debug("%s: no enum field %d", msg.GetDescriptor()->full_name().c_str(), field);
    return "";
  }
  const gp::Reflection* reflection = msg.GetReflection();
  if (reflection->HasField(msg, descriptor)) return reflection->GetEnum(msg, descriptor)->name();
  uint64_t number = 0;
  if (unknownNumber(msg, field, &number)) {
    // The varint of a negative int32 is its 64-bit sign extension.
    g_debug("%s: unknown value %lld, passed on as \"\"", descriptor->full_name().c_str(),
            static_cast<long long>(static_cast<int64_t>(number)));
    return "";
  }
  if (*absent == '\0') g_debug("%s: absent, passed on as \"\"", descriptor->full_name().c_str());
  return absent;
}
