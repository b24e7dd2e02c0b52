// Frame codec of the recognition server link (see asr_frame.h).
#include "asr_frame.h"

namespace asrframe {

std::string encode(const AsrMsg &message) {
  const size_t n = message.ByteSizeLong();
  std::string frame(kHeaderSize + n, '\0');
  frame[0] = static_cast<char>((n >> 24) & 0xff);
  frame[1] = static_cast<char>((n >> 16) & 0xff);
  frame[2] = static_cast<char>((n >> 8) & 0xff);
  frame[3] = static_cast<char>(n & 0xff);
  message.SerializeWithCachedSizesToArray(reinterpret_cast<uint8_t *>(&frame[kHeaderSize]));
  return frame;
}

uint32_t decodeLength(const unsigned char *header) {
  return (uint32_t{header[0]} << 24) | (uint32_t{header[1]} << 16) | (uint32_t{header[2]} << 8) |
         uint32_t{header[3]};
}

std::unique_ptr<AsrMsg> decodePayload(const void *data, size_t size) {
  auto message = std::make_unique<AsrMsg>();
  // Partial parse: a missing required code reads as its first value (OK), as the peers expect.
  (void)message->ParsePartialFromArray(data, static_cast<int>(size));
  return message;
}

}  // namespace asrframe
