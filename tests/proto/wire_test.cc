// Wire bytes of the schema: the ping frame byte for byte, config.bin's ConfigApp round trip,
// and frames exchanged with a second, independent protobuf implementation (pure Python).
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>

#include <google/protobuf/text_format.h>
#include <google/protobuf/util/message_differencer.h>
#include <unistd.h>

#include "nusk-message.pb.h"

namespace msg = net::zolvek::nusk::message;

namespace {

const char kId[] = "0f1e2d3c-4b5a-6978-8796-a5b4c3d2e1f0";
const char kInteractiveId[] = "12345678-9abc-def0-1234-56789abcdef0";

std::string frameOf(const msg::NuskMsg& m) {
  std::string payload = m.SerializeAsString();
  const auto n = static_cast<uint32_t>(payload.size());
  std::string frame = {char(n >> 24), char(n >> 16), char(n >> 8), char(n)};
  return frame + payload;
}

class TempDir {
 public:
  TempDir() {
    std::string tmpl = testing::TempDir() + "nuskwireXXXXXX";
    path_ = mkdtemp(tmpl.data());
  }
  ~TempDir() { std::system(("rm -rf '" + path_ + "'").c_str()); }
  std::string file(const char* name) const { return path_ + "/" + name; }

 private:
  std::string path_;
};

// Runs the Python decoder; returns its standard output and sets *status.
std::string runPython(const std::string& args, const std::string& stdinText, int* status) {
  TempDir dir;
  std::string in = dir.file("stdin");
  std::ofstream(in) << stdinText;
  std::string cmd = "PYTHONPATH='" TOBREL_PYTHON_PB_DIR "' /usr/bin/python3 '" TOBREL_PY_DECODER
                    "' " + args + " < '" + in + "'";
  FILE* p = popen(cmd.c_str(), "r");
  std::string out;
  char buf[4096];
  size_t n;
  while ((n = fread(buf, 1, sizeof buf, p)) > 0) out.append(buf, n);
  *status = pclose(p);
  return out;
}

// A message that touches every wire type the schema uses: strings, zig-zag and plain varints,
// enums, booleans, bytes, nested and repeated (unpacked) fields, a two-byte tag.
msg::NuskMsg sampleMessage() {
  msg::NuskMsg m;
  m.set_id(kId);
  m.set_interactiveid(kInteractiveId);
  m.mutable_ears()->set_left(-3);
  m.mutable_ears()->set_right(17);
  m.mutable_ears()->set_relative(true);
  m.mutable_rfidcallback()->set_id("d0021a0352c4b6a2");
  m.mutable_rfidcallback()->set_content(std::string("\x00\x01\xfe\xff", 4));
  m.mutable_rfidcallback()->set_color(msg::RfidCallback_Col_BROWN);
  m.mutable_multimedia()->add_songlist("one");
  m.mutable_multimedia()->add_songlist("two");
  m.mutable_dock()->mutable_move()->set_cmd(msg::Dock_Type_UP);
  m.mutable_tobrelinfo_query();
  return m;
}

}  // namespace

TEST(WireFormat, PingInInteractiveModeIsEightyThreeBytes) {
  msg::NuskMsg m;
  m.set_id(kId);
  m.set_interactiveid(kInteractiveId);
  m.mutable_ping();
  std::string expected = std::string("\x00\x00\x00\x4f", 4) + "\x0a\x24" + kId + "\x1a\x24" +
                         kInteractiveId + std::string("\xc2\x3e\x00", 3);
  ASSERT_EQ(expected.size(), 83u);
  EXPECT_EQ(frameOf(m), expected);
}

TEST(WireFormat, ZigZagAndUnpackedRepeatedFields) {
  msg::NuskMsg m;
  m.set_id("i");
  m.mutable_ears()->set_left(-1);  // zig-zag: -1 -> 1
  m.mutable_multimedia()->add_genrelist("a");
  m.mutable_multimedia()->add_genrelist("b");
  std::string bytes = m.SerializeAsString();
  // id, then ears (field 101: tag 0xaa 0x06) holding left (tag 0x08) = 1,
  // then multimedia (field 105: 0xca 0x06) with two separate entries of field 153 (0xca 0x09).
  std::string expected = std::string("\x0a\x01i", 3) + "\xaa\x06\x02\x08\x01" +
                         "\xca\x06\x08" + "\xca\x09\x01" "a" + "\xca\x09\x01" "b";
  EXPECT_EQ(bytes, expected);
}

TEST(WireFormat, ConfigAppRoundTripsAsConfigBinHoldsIt) {
  msg::ConfigApp app;
  app.set_apikey("k-123");
  app.set_version("1.0");
  app.set_name("weather");
  app.set_deployment("prod");
  app.add_access("led");
  app.add_access("ears");
  auto* p = app.add_parameters();
  p->set_key("city");
  p->set_value("Lyon");
  auto* inst = app.add_configinstance();
  inst->set_name("morning");
  inst->set_uuid("7c0e8a66-0000-4000-8000-000000000001");
  inst->set_accesstoken("tok");
  auto* ip = inst->add_params();
  ip->set_key("hour");
  ip->set_value("7");

  std::string bytes = app.SerializeAsString();
  msg::ConfigApp back;
  ASSERT_TRUE(back.ParseFromString(bytes));
  EXPECT_TRUE(google::protobuf::util::MessageDifferencer::Equals(app, back));
  EXPECT_EQ(back.configinstance(0).params(0).value(), "7");

  // A config.bin without a required field still yields what it holds, but is not complete.
  msg::ConfigApp partial;
  partial.set_name("weather");
  msg::ConfigApp partialBack;
  EXPECT_FALSE(partialBack.ParseFromString(partial.SerializePartialAsString()));
  EXPECT_TRUE(partialBack.ParsePartialFromString(partial.SerializePartialAsString()));
  EXPECT_EQ(partialBack.name(), "weather");
  EXPECT_FALSE(partialBack.IsInitialized());
}

TEST(IndependentDecoder, PythonReadsOurFrameAsWeWroteIt) {
  TempDir dir;
  const msg::NuskMsg m = sampleMessage();
  std::string path = dir.file("frame.bin");
  std::ofstream(path, std::ios::binary) << frameOf(m);
  int status = -1;
  std::string text = runPython("decode '" + path + "'", "", &status);
  ASSERT_EQ(status, 0) << text;
  msg::NuskMsg back;
  ASSERT_TRUE(google::protobuf::TextFormat::ParseFromString(text, &back)) << text;
  EXPECT_TRUE(google::protobuf::util::MessageDifferencer::Equals(m, back)) << text;
  EXPECT_NE(text.find("left: -3"), std::string::npos) << text;
  EXPECT_NE(text.find("color: BROWN"), std::string::npos) << text;
}

TEST(IndependentDecoder, PythonWritesTheBytesWeWrite) {
  TempDir dir;
  const msg::NuskMsg m = sampleMessage();
  std::string text;
  google::protobuf::TextFormat::PrintToString(m, &text);
  std::string path = dir.file("frame.bin");
  int status = -1;
  std::string out = runPython("encode '" + path + "'", text, &status);
  ASSERT_EQ(status, 0) << out;
  std::ifstream in(path, std::ios::binary);
  std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  EXPECT_EQ(bytes, frameOf(m));
}
