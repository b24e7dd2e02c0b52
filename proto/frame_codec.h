// Frames of the device link (and of any other link that uses the same shape): a 4-byte
// big-endian payload length, then that many bytes of one serialised message. Pure functions
// over buffers, so the socket code on either side only moves bytes.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include <google/protobuf/message_lite.h>

namespace tobrel::frame {

constexpr std::size_t kHeaderSize = 4;
// Real frames are a few hundred bytes; a length above this is corruption or hostility, and
// accepting it would let a peer make us allocate up to 4 GiB.
constexpr std::uint32_t kMaxPayload = 16u * 1024u * 1024u;

void encodeLength(std::uint32_t n, unsigned char out[kHeaderSize]);
std::uint32_t decodeLength(const unsigned char in[kHeaderSize]);

// Appends one frame holding `msg` to `out`. False (and `out` unchanged) when the message is
// larger than kMaxPayload or cannot be serialised.
bool appendFrame(const google::protobuf::MessageLite& msg, std::string* out);

enum class ParseResult {
  kOk,               // complete message
  kMissingRequired,  // valid wire format, but a required field is absent; `msg` holds the rest
  kMalformed,        // not valid wire format
};
// Clears `msg` and parses `size` bytes of payload into it.
ParseResult parsePayload(const void* data, std::size_t size, google::protobuf::MessageLite* msg);

// Splits a byte stream into frame payloads. Feed it what arrives, in any pieces; take frames
// with next() until it says kNeedMore.
class Reader {
 public:
  enum class Result {
    kFrame,     // `payload` holds the next frame's bytes
    kNeedMore,  // no complete frame buffered
    kTooLarge,  // the next frame announces more than kMaxPayload; the stream is unusable
  };

  void feed(const void* data, std::size_t size);
  Result next(std::string* payload);

  // At end of stream: true when it ended between frames, false when a frame was cut short.
  bool cleanEof() const { return buffered() == 0; }
  std::size_t buffered() const { return buf_.size() - pos_; }
  // The length the next frame announces, once its header is in (0 otherwise).
  std::uint32_t pendingLength() const;

 private:
  std::string buf_;
  std::size_t pos_ = 0;  // start of the first unconsumed byte in buf_
};

}  // namespace tobrel::frame
