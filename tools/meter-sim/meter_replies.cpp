#include "meter_replies.h"

#include "protocol/meter_wire.h"
#include "reading_groups.h"

namespace metersim {

std::vector<std::uint8_t> MeterReplies::answer(std::uint8_t command) {
  if (opts_.silent) return {};
  std::vector<std::uint8_t> reply = properAnswer(command);
  if (opts_.garbage)
    for (auto &b : reply) b = randomByte();
  return reply;
}

std::vector<std::uint8_t> MeterReplies::properAnswer(std::uint8_t command) {
  const auto groups = static_cast<std::uint8_t>(opts_.groups);
  switch (command) {
    case meterwire::kHandshake: {
      const auto *ok = meterwire::kHandshakeReply;
      // A wrong handshake reply: the right bytes in the wrong order.
      if (opts_.badHandshake) return {ok[1], ok[0], ok[2]};
      return {ok[0], ok[1], ok[2]};
    }
    case meterwire::kCountQuery: {
      const std::uint8_t mark = meterwire::kCountReplyMark;
      return {mark, static_cast<std::uint8_t>(opts_.badCount ? mark - 1 : mark), groups};
    }
    case meterwire::kHistoryRequest: {
      const int sent = opts_.historyGroups >= 0 ? opts_.historyGroups
                       : opts_.shortHistory     ? opts_.groups / 2
                                                : opts_.groups;
      std::vector<std::uint8_t> out;
      out.reserve(static_cast<size_t>(sent) * meterwire::kGroupSize);
      for (int k = 1; k <= sent; ++k) {
        // The file's groups; any sent beyond them (--history-groups) as without it.
        const auto fromFile = static_cast<std::size_t>(k - 1);
        const Group g = fromFile < opts_.stored.size() ? opts_.stored[fromFile] : storedGroup(k);
        out.insert(out.end(), g.begin(), g.end());
      }
      return out;
    }
    case meterwire::kLiveRequest: {
      const double v = liveValue(opts_.waveform, opts_.value, liveCount_++, opts_.period);
      const Group g = encodeReading(opts_.code, v);
      return {g.begin(), g.end()};
    }
    default: return {};
  }
}

std::uint8_t MeterReplies::randomByte() {
  rng_ ^= rng_ << 13;
  rng_ ^= rng_ >> 17;
  rng_ ^= rng_ << 5;
  return static_cast<std::uint8_t>(rng_ >> 24);
}

}  // namespace metersim
