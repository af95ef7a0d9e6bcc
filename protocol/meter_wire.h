#pragma once
// The meter's wire format, in both directions. The window, the console tool
// and the meter simulator all take their bytes from here, so the two ends of
// the line can never disagree. Plain C++ without Qt: the simulator links none.
//
// The PC writes one command byte; the meter answers in 3-byte groups.
#include <cstddef>
#include <cstdint>

namespace meterwire {

// Command bytes.
constexpr std::uint8_t kCloseNotice = 0;      // the program is closing; no reply
constexpr std::uint8_t kHandshake = 5;        // reply: the handshake group
constexpr std::uint8_t kCountQuery = 15;      // reply: the count group 5 5 N
constexpr std::uint8_t kHistoryRequest = 25;  // reply: N stored reading groups
constexpr std::uint8_t kLiveRequest = 35;     // reply: one live reading group

// Every reply is made of groups of this many bytes.
constexpr int kGroupSize = 3;

// The meter's answer to the handshake.
constexpr std::uint8_t kHandshakeReply[kGroupSize] = {213, 85, 85};
// The count reply is these two bytes followed by the number of stored groups.
constexpr std::uint8_t kCountReplyMark = 5;

// Whether `bytes` starts with the handshake reply.
inline bool IsHandshakeReply(const char *bytes, std::size_t size) {
  if (size < static_cast<std::size_t>(kGroupSize)) return false;
  for (int i = 0; i < kGroupSize; ++i)
    if (static_cast<std::uint8_t>(bytes[i]) != kHandshakeReply[i]) return false;
  return true;
}

// Whether `bytes` starts with a count reply; its third byte is the count.
inline bool IsCountReply(const char *bytes, std::size_t size) {
  return size >= static_cast<std::size_t>(kGroupSize) &&
         static_cast<std::uint8_t>(bytes[0]) == kCountReplyMark &&
         static_cast<std::uint8_t>(bytes[1]) == kCountReplyMark;
}

}  // namespace meterwire
