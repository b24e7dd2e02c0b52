// The frame codec over plain buffers: round trips, back-to-back and empty frames, lengths split
// across reads, truncation at end of stream, oversize lengths and undecodable payloads.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "frame_codec.h"
#include "nusk-message.pb.h"

namespace frame = tobrel::frame;
namespace msg = net::zolvek::nusk::message;
using Result = frame::Reader::Result;

namespace {
msg::NuskMsg ping(const std::string& id) {
  msg::NuskMsg m;
  m.set_id(id);
  m.mutable_ping();
  return m;
}
}  // namespace

TEST(FrameLength, IsBigEndian) {
  unsigned char b[4];
  frame::encodeLength(0x0102a0ffu, b);
  EXPECT_EQ(b[0], 0x01);
  EXPECT_EQ(b[1], 0x02);
  EXPECT_EQ(b[2], 0xa0);
  EXPECT_EQ(b[3], 0xff);
  EXPECT_EQ(frame::decodeLength(b), 0x0102a0ffu);
  const unsigned char max[4] = {0xff, 0xff, 0xff, 0xff};
  EXPECT_EQ(frame::decodeLength(max), 0xffffffffu);
}

TEST(FrameCodec, RoundTripOfTwoFramesBackToBack) {
  std::string stream;
  ASSERT_TRUE(frame::appendFrame(ping("a"), &stream));
  ASSERT_TRUE(frame::appendFrame(ping("bb"), &stream));
  frame::Reader r;
  r.feed(stream.data(), stream.size());
  std::string payload;
  msg::NuskMsg m;
  ASSERT_EQ(r.next(&payload), Result::kFrame);
  ASSERT_EQ(frame::parsePayload(payload.data(), payload.size(), &m), frame::ParseResult::kOk);
  EXPECT_EQ(m.id(), "a");
  ASSERT_EQ(r.next(&payload), Result::kFrame);
  ASSERT_EQ(frame::parsePayload(payload.data(), payload.size(), &m), frame::ParseResult::kOk);
  EXPECT_EQ(m.id(), "bb");
  EXPECT_TRUE(m.has_ping());
  EXPECT_EQ(r.next(&payload), Result::kNeedMore);
  EXPECT_TRUE(r.cleanEof());
}

TEST(FrameCodec, EmptyFrameEndsAfterItsLength) {
  const std::string stream = std::string("\0\0\0\0\0\0\0\x01\x07", 9);
  frame::Reader r;
  r.feed(stream.data(), stream.size());
  std::string payload = "stale";
  ASSERT_EQ(r.next(&payload), Result::kFrame);
  EXPECT_EQ(payload, "");
  ASSERT_EQ(r.next(&payload), Result::kFrame);
  EXPECT_EQ(payload, "\x07");
  EXPECT_TRUE(r.cleanEof());
}

TEST(FrameCodec, ReassemblesAFrameFedInAnyPieces) {
  std::string stream;
  ASSERT_TRUE(frame::appendFrame(ping("0f1e2d3c-4b5a-6978-8796-a5b4c3d2e1f0"), &stream));
  const std::vector<std::vector<size_t>> splits = {
      {1, 3}, {2, 2}, {3, 1}, {4}, {1, 1, 1, 1}, {5}, {stream.size() - 1}};
  for (const auto& cuts : splits) {
    frame::Reader r;
    std::string payload;
    size_t pos = 0;
    for (size_t cut : cuts) {
      r.feed(stream.data() + pos, cut);
      pos += cut;
      EXPECT_EQ(r.next(&payload), Result::kNeedMore) << "after " << pos << " bytes";
      EXPECT_FALSE(r.cleanEof());
    }
    r.feed(stream.data() + pos, stream.size() - pos);
    ASSERT_EQ(r.next(&payload), Result::kFrame) << "first cut " << cuts[0];
    EXPECT_EQ(payload, stream.substr(4));
  }
}

TEST(FrameCodec, TellsCleanEndFromTruncatedFrame) {
  std::string stream;
  ASSERT_TRUE(frame::appendFrame(ping("abc"), &stream));
  for (size_t keep : {size_t{0}, size_t{2}, size_t{4}, stream.size() - 1, stream.size()}) {
    frame::Reader r;
    r.feed(stream.data(), keep);
    std::string payload;
    while (r.next(&payload) == Result::kFrame) {
    }
    EXPECT_EQ(r.cleanEof(), keep == 0 || keep == stream.size()) << keep << " bytes";
  }
}

TEST(FrameCodec, RefusesLengthsOverTheLimitBeforeAnyPayloadArrives) {
  struct Case {
    uint32_t n;
    Result expected;
  } cases[] = {
      {frame::kMaxPayload, Result::kNeedMore},
      {frame::kMaxPayload + 1, Result::kTooLarge},
      {0xffffffffu, Result::kTooLarge},
  };
  for (const Case& c : cases) {
    unsigned char header[4];
    frame::encodeLength(c.n, header);
    frame::Reader r;
    r.feed(header, 4);
    std::string payload;
    EXPECT_EQ(r.next(&payload), c.expected) << c.n;
    EXPECT_EQ(r.pendingLength(), c.n);
  }
}

TEST(FrameCodec, WillNotEncodeAnOversizeMessage) {
  msg::NuskMsg m;
  m.set_id(std::string(frame::kMaxPayload, 'x'));
  std::string out = "keep";
  EXPECT_FALSE(frame::appendFrame(m, &out));
  EXPECT_EQ(out, "keep");
}

TEST(FrameCodec, SortsPayloadsIntoCompleteMissingRequiredAndMalformed) {
  msg::NuskMsg noId;
  noId.mutable_ping();
  const std::string noIdBytes = noId.SerializePartialAsString();
  struct Case {
    std::string bytes;
    frame::ParseResult expected;
  } cases[] = {
      {ping("x").SerializeAsString(), frame::ParseResult::kOk},
      {noIdBytes, frame::ParseResult::kMissingRequired},
      {"", frame::ParseResult::kMissingRequired},
      {"\xff\xff\xff", frame::ParseResult::kMalformed},       // truncated varint tag
      {"\x0a\x10short", frame::ParseResult::kMalformed},      // string longer than the payload
      {std::string("\x0f\x00", 2), frame::ParseResult::kMalformed},  // wire type 7 does not exist
  };
  for (const Case& c : cases) {
    msg::NuskMsg m;
    m.set_correlationid("left over");
    EXPECT_EQ(frame::parsePayload(c.bytes.data(), c.bytes.size(), &m), c.expected)
        << testing::PrintToString(c.bytes);
    if (c.expected != frame::ParseResult::kMalformed) {
      EXPECT_FALSE(m.has_correlationid());
    }
  }
}
