// The name that a script hears for an enum field of a received message. proto2 parses a number
// the schema does not know as an absent field (the number goes to the unknown fields) and the
// getter then gives the type's first value, so naming the getter's value would tell the script
// of an event that never happened: a name is given only for a value that is really there.
#ifndef TOBREL_VM_CORE_ENUM_NAME_H
#define TOBREL_VM_CORE_ENUM_NAME_H

#include <string>

namespace google::protobuf {
class Message;
}

// The name of the value in `msg`'s enum field numbered `field` (the generated k...FieldNumber).
// Without a value it gives `absent` (empty unless a caller's schema promises a default); a
// number that the schema does not name gives the empty text. Either empty result is logged at
// DEBUG with the field's full name.
std::string enumName(const google::protobuf::Message& msg, int field, const char* absent = "");

#endif
