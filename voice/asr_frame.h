// Frame codec of the recognition server link: a 4-byte big-endian payload length followed by
// one serialised AsrMsg. Pure functions over buffers; the socket glue lives in asr_link.cc.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "asr-message.pb.h"

namespace asrframe {

using net::zolvek::asr::message::AsrMsg;

constexpr size_t kHeaderSize = 4;
// A bad or hostile server must not make the daemon allocate gigabytes: longer frames are refused.
constexpr uint32_t kMaxPayload = 1u << 20;

// Header and serialisation in one buffer, ready to be written as it is.
std::string encode(const AsrMsg &message);

// The payload length announced by a header of kHeaderSize bytes.
uint32_t decodeLength(const unsigned char *header);

// Parses a payload. A payload that is cut short or lacks required fields still yields whatever
// was decoded: the server's answer is used as far as it goes.
std::unique_ptr<AsrMsg> decodePayload(const void *data, size_t size);

}  // namespace asrframe
