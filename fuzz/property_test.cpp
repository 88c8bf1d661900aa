// A fuzz target's properties inside the ordinary test suite, so that every build checks them,
// the Windows ones included: over the committed seeds, and over a fixed stream of inputs made by
// changing a few bytes of a seed or by drawing all of them.
#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size);

namespace {

using Bytes = std::vector<uint8_t>;

std::vector<Bytes> Seeds() {
  std::vector<Bytes> seeds;
  for (const auto& entry : std::filesystem::directory_iterator(AUTOBACKUP_CORPUS)) {
    std::ifstream file(entry.path(), std::ios::binary);
    seeds.emplace_back(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
  }
  return seeds;
}

void RunInput(const Bytes& input) {
  LLVMFuzzerTestOneInput(input.data(), input.size());  // a broken property aborts with its text
}

TEST(Properties, HoldOnEverySeed) {
  const std::vector<Bytes> seeds = Seeds();
  ASSERT_GE(seeds.size(), 10u) << "seed corpus not found at " << AUTOBACKUP_CORPUS;
  for (const Bytes& seed : seeds) {
    RunInput(seed);
  }
}

TEST(Properties, HoldOnChangedSeedsAndDrawnInputs) {
  const std::vector<Bytes> seeds = Seeds();
  ASSERT_FALSE(seeds.empty());
  std::mt19937_64 random(20240131);
  for (int i = 0; i < 20000; ++i) {
    Bytes input;
    if (i % 4 == 3) {
      input.resize(random() % 80);
      for (uint8_t& byte : input) {
        byte = static_cast<uint8_t>(random());
      }
    } else {
      input = seeds[random() % seeds.size()];
      for (int changes = 1 + random() % 4; changes > 0 && !input.empty(); --changes) {
        input[random() % input.size()] = static_cast<uint8_t>(random());
      }
    }
    RunInput(input);
  }
}

}  // namespace
