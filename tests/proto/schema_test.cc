// Holds the generated descriptors of nusk-message.proto against a transcription of the schema
// tables, and checks the rules that a table cannot show: no options, defaults as read back,
// enum names for scripts.
#include <gtest/gtest.h>

#include <fstream>
#include <sstream>
#include <algorithm>
#include <string>
#include <vector>

#include <google/protobuf/descriptor.h>
#include <google/protobuf/descriptor.pb.h>

#include "nusk-message.pb.h"

namespace pb = google::protobuf;
namespace msg = net::zolvek::nusk::message;

namespace {

const pb::FileDescriptor* schemaFile() { return msg::NuskMsg::descriptor()->file(); }

std::string shortName(const std::string& fullName) {
  const std::string prefix = "net.zolvek.nusk.message.";
  return fullName.rfind(prefix, 0) == 0 ? fullName.substr(prefix.size()) : fullName;
}

std::string labelName(const pb::FieldDescriptor* f) {
  switch (f->label()) {
    case pb::FieldDescriptor::LABEL_REQUIRED: return "required";
    case pb::FieldDescriptor::LABEL_REPEATED: return "repeated";
    default: return "optional";
  }
}

std::string typeName(const pb::FieldDescriptor* f) {
  if (f->message_type()) return shortName(f->message_type()->full_name());
  if (f->enum_type()) return shortName(f->enum_type()->full_name());
  return f->type_name();
}

std::string defaultText(const pb::FieldDescriptor* f) {
  switch (f->cpp_type()) {
    case pb::FieldDescriptor::CPPTYPE_INT32: return std::to_string(f->default_value_int32());
    case pb::FieldDescriptor::CPPTYPE_BOOL: return f->default_value_bool() ? "true" : "false";
    default: return "?";
  }
}

void describeEnum(const pb::EnumDescriptor* e, std::ostream& out) {
  out << "enum " << shortName(e->full_name());
  for (int i = 0; i < e->value_count(); ++i)
    out << ' ' << e->value(i)->name() << '=' << e->value(i)->number();
  out << '\n';
}

// Same layout as the transcription: a message, its fields, its nested messages, then its enums.
void describeMessage(const pb::Descriptor* d, std::ostream& out) {
  out << "message " << shortName(d->full_name()) << '\n';
  for (int i = 0; i < d->field_count(); ++i) {
    const pb::FieldDescriptor* f = d->field(i);
    out << "  " << f->number() << ' ' << labelName(f) << ' ' << typeName(f) << ' ' << f->name();
    if (f->has_default_value()) out << " default=" << defaultText(f);
    out << '\n';
  }
  for (int i = 0; i < d->nested_type_count(); ++i) describeMessage(d->nested_type(i), out);
  for (int i = 0; i < d->enum_type_count(); ++i) describeEnum(d->enum_type(i), out);
}

std::string readTranscription() {
  std::ifstream in(TOBREL_SCHEMA_FIELDS);
  std::string line, text;
  while (std::getline(in, line))
    if (!line.empty() && line[0] != '#') text += line + '\n';
  return text;
}

std::vector<std::string> splitLines(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

int countNested(const pb::Descriptor* d, int* enums) {
  *enums += d->enum_type_count();
  int n = d->nested_type_count();
  for (int i = 0; i < d->nested_type_count(); ++i) n += countNested(d->nested_type(i), enums);
  return n;
}

}  // namespace

TEST(SchemaFile, MatchesTheTablesInDeclarationOrder) {
  std::ostringstream out;
  const pb::FileDescriptor* file = schemaFile();
  for (int i = 0; i < file->message_type_count(); ++i) describeMessage(file->message_type(i), out);
  for (int i = 0; i < file->enum_type_count(); ++i) describeEnum(file->enum_type(i), out);
  const std::vector<std::string> expected = splitLines(readTranscription());
  const std::vector<std::string> actual = splitLines(out.str());
  ASSERT_FALSE(expected.empty()) << "cannot read " << TOBREL_SCHEMA_FIELDS;
  // Report the first difference only: the rest usually follows from it.
  for (size_t i = 0; i < std::min(expected.size(), actual.size()); ++i)
    ASSERT_EQ(actual[i], expected[i]) << "line " << i + 1 << " of the transcription";
  EXPECT_EQ(actual.size(), expected.size());
}

TEST(SchemaFile, HasTheDeclaredShapeAndNothingElse) {
  const pb::FileDescriptor* file = schemaFile();
  EXPECT_EQ(file->name(), "nusk-message.proto");
  EXPECT_EQ(file->package(), "net.zolvek.nusk.message");
  EXPECT_EQ(file->syntax(), pb::FileDescriptor::SYNTAX_PROTO2);
  EXPECT_EQ(file->dependency_count(), 0);
  EXPECT_EQ(file->service_count(), 0);
  EXPECT_EQ(file->extension_count(), 0);

  int nestedEnums = 0, nestedMessages = 0;
  for (int i = 0; i < file->message_type_count(); ++i)
    nestedMessages += countNested(file->message_type(i), &nestedEnums);
  EXPECT_EQ(file->message_type_count(), 49);
  EXPECT_EQ(nestedMessages, 41);
  EXPECT_EQ(file->enum_type_count(), 2);
  EXPECT_EQ(nestedEnums, 13);

  pb::FileDescriptorProto proto;
  file->CopyTo(&proto);
  pb::FileOptions expected;
  expected.set_java_package("net.zolvek.nusk.message");
  expected.set_java_outer_classname("MessageManager");
  EXPECT_EQ(proto.options().SerializeAsString(), expected.SerializeAsString());
}

namespace {
// Every option below the file level would show up in these; none is allowed.
void expectNoOptions(const pb::DescriptorProto& d) {
  EXPECT_FALSE(d.has_options()) << d.name();
  EXPECT_EQ(d.extension_range_size(), 0) << d.name();
  EXPECT_EQ(d.extension_size(), 0) << d.name();
  EXPECT_EQ(d.oneof_decl_size(), 0) << d.name();
  for (const auto& f : d.field()) {
    EXPECT_FALSE(f.has_options()) << d.name() << '.' << f.name();
    EXPECT_NE(f.type(), pb::FieldDescriptorProto::TYPE_GROUP) << d.name() << '.' << f.name();
  }
  for (const auto& e : d.enum_type()) EXPECT_FALSE(e.has_options()) << e.name();
  for (const auto& n : d.nested_type()) expectNoOptions(n);
}
}  // namespace

TEST(SchemaFile, DeclaresNoMessageFieldOrEnumOptions) {
  pb::FileDescriptorProto proto;
  schemaFile()->CopyTo(&proto);
  for (const auto& m : proto.message_type()) expectNoOptions(m);
  for (const auto& e : proto.enum_type()) {
    EXPECT_FALSE(e.has_options()) << e.name();
    for (const auto& v : e.value()) EXPECT_FALSE(v.has_options()) << v.name();
  }
}

TEST(SchemaDefaults, AbsentFieldsReadAsDeclared) {
  msg::ScheduleConf_Schedule_ScheduleDate date;
  EXPECT_EQ(date.year(), -1);
  EXPECT_EQ(date.month(), -1);
  EXPECT_EQ(date.day(), -1);
  EXPECT_EQ(date.hour(), -1);
  EXPECT_EQ(date.minute(), 0);
  EXPECT_EQ(date.second(), 0);
  EXPECT_EQ(msg::ScheduleConf_Schedule_ScheduleWeekly().second(), 0);
  EXPECT_EQ(msg::ScheduleConf_Schedule_SchedulePeriodic().delta(), 0);
  EXPECT_EQ(msg::Dock_Move().time(), 0);
  EXPECT_FALSE(msg::ScheduleConf().reset());
}

TEST(SchemaDefaults, UnsetEnumReadsAsItsFirstValue) {
  // Five enums start at 0, the others at 1; none declares a default.
  EXPECT_EQ(msg::RfidCallback().color(), msg::RfidCallback_Col_NONE_COL);
  EXPECT_EQ(msg::RfidCallback().type(), msg::RfidCallback_Type_NONE_TYPE);
  EXPECT_EQ(msg::RfidCallback().direction(), msg::RfidCallback_Dir_IN);
  EXPECT_EQ(msg::T2tCallback().type(), msg::T2tCallback_Type_INCOMING);
  EXPECT_EQ(msg::TobrelMessageHeader().status(), msg::TobrelMessageHeader_Status_UNREAD);
  EXPECT_EQ(msg::TobrelMessageContent().type(), msg::TobrelMessageContent_Type_TEXT);
  EXPECT_EQ(msg::ButtonCallback().type(), msg::ButtonCallback_Type_SIMPLE);
  EXPECT_EQ(msg::Event().code(), msg::OK);
  EXPECT_EQ(msg::Response().code(), msg::OK);
  EXPECT_EQ(msg::InteractiveMode().action(), msg::InteractiveMode_Action_START);
  EXPECT_EQ(msg::System().command(), msg::TELNET_ON);
}

TEST(SchemaNames, EnumValueNamesComeBackExactlyForScripts) {
  struct Case {
    const pb::EnumDescriptor* e;
    int number;
    const char* name;
  } cases[] = {
      {msg::VReturnCode_descriptor(), 1, "OK"},
      {msg::VReturnCode_descriptor(), 7, "BAD_INTERACTIVEID"},
      {msg::VReturnCode_descriptor(), 9, "NOT_CONNECTED"},
      {msg::ButtonCallback_Type_descriptor(), 5, "LONG_START"},
      {msg::EarsCallback_Type_descriptor(), 5, "BLOCKED_LEFT"},
      {msg::RfidCallback_Col_descriptor(), 16, "BROWN"},
      {msg::RfidCallback_Type_descriptor(), 0, "NONE_TYPE"},
      {msg::MultimediaCallback_TypeAction_descriptor(), 5, "MUSIC_UPDATE"},
      {msg::T2tCallback_Type_descriptor(), 2, "TERMINATED"},
  };
  for (const Case& c : cases) {
    const pb::EnumValueDescriptor* v = c.e->FindValueByNumber(c.number);
    ASSERT_NE(v, nullptr) << c.name;
    EXPECT_EQ(v->name(), c.name);
  }
  // The gap in the colours and the jumps in the system commands hold no value.
  EXPECT_EQ(msg::RfidCallback_Col_descriptor()->FindValueByNumber(15), nullptr);
  for (int n : {3, 9, 14, 19}) EXPECT_EQ(msg::CommandType_descriptor()->FindValueByNumber(n), nullptr);
}
