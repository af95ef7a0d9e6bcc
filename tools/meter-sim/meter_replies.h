#pragma once
// What the simulated meter answers to each command byte.
#include <cstdint>
#include <vector>

#include "sim_options.h"

namespace metersim {

class MeterReplies {
 public:
  explicit MeterReplies(const Options &opts) : opts_(opts) {}

  // The answer to one command byte; empty when nothing is to be sent.
  std::vector<std::uint8_t> answer(std::uint8_t command);

 private:
  std::vector<std::uint8_t> properAnswer(std::uint8_t command);
  std::uint8_t randomByte();

  const Options &opts_;
  long liveCount_ = 0;               // live readings answered so far
  std::uint32_t rng_ = 0x2545F491u;  // fixed seed: garbage is reproducible
};

}  // namespace metersim
