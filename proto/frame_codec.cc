// Frame encoding and incremental decoding for the device link; no I/O here.
#include "frame_codec.h"


namespace tobrel::frame {

void encodeLength(std::uint32_t n, unsigned char out[kHeaderSize]) {
  out[0] = static_cast<unsigned char>(n >> 24);
  out[1] = static_cast<unsigned char>(n >> 16);
  out[2] = static_cast<unsigned char>(n >> 8);
  out[3] = static_cast<unsigned char>(n);
}

std::uint32_t decodeLength(const unsigned char in[kHeaderSize]) {
  return (std::uint32_t{in[0]} << 24) | (std::uint32_t{in[1]} << 16) |
         (std::uint32_t{in[2]} << 8) | std::uint32_t{in[3]};
}

bool appendFrame(const google::protobuf::MessageLite& msg, std::string* out) {
  const std::size_t n = msg.ByteSizeLong();
  if (n > kMaxPayload) return false;
  const std::size_t start = out->size();
  out->resize(start + kHeaderSize + n);
  auto* p = reinterpret_cast<unsigned char*>(&(*out)[start]);
  encodeLength(static_cast<std::uint32_t>(n), p);
  // Partial: a message that lacks a required field is still sent as it is; the peer decides.
  if (!msg.SerializePartialToArray(p + kHeaderSize, static_cast<int>(n))) {
    out->resize(start);
    return false;
  }
  return true;
}

ParseResult parsePayload(const void* data, std::size_t size, google::protobuf::MessageLite* msg) {
  if (size > kMaxPayload) {
    msg->Clear();
    return ParseResult::kMalformed;
  }
  if (!msg->ParsePartialFromArray(data, static_cast<int>(size))) return ParseResult::kMalformed;
  return msg->IsInitialized() ? ParseResult::kOk : ParseResult::kMissingRequired;
}

void Reader::feed(const void* data, std::size_t size) {
  // Drop what was consumed before growing, so a long stream does not keep every old frame.
  if (pos_ > 0 && pos_ >= buf_.size() / 2) {
    buf_.erase(0, pos_);
    pos_ = 0;
  }
  buf_.append(static_cast<const char*>(data), size);
}

std::uint32_t Reader::pendingLength() const {
  if (buffered() < kHeaderSize) return 0;
  return decodeLength(reinterpret_cast<const unsigned char*>(buf_.data() + pos_));
}

Reader::Result Reader::next(std::string* payload) {
  if (buffered() < kHeaderSize) return Result::kNeedMore;
  const std::uint32_t n = pendingLength();
  if (n > kMaxPayload) return Result::kTooLarge;
  if (buffered() - kHeaderSize < n) return Result::kNeedMore;
  payload->assign(buf_, pos_ + kHeaderSize, n);
  pos_ += kHeaderSize + n;
  if (pos_ == buf_.size()) {
    buf_.clear();
    pos_ = 0;
  }
  return Result::kFrame;
}

}  // namespace tobrel::frame
