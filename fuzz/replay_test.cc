// Replays the seed dialogues and every input the fuzzer once broke the program with.
#include <gtest/gtest.h>

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "fuzz/dialogue_harness.h"
#include "tests/kit.h"

namespace orvel {
namespace {

namespace fs = std::filesystem;

const fs::path kFuzzDir = fs::path(__FILE__).parent_path();

std::vector<fs::path> inputs_in(const fs::path& dir) {
  std::vector<fs::path> found;
  if (!fs::is_directory(dir)) return found;
  for (const fs::directory_entry& e : fs::directory_iterator(dir)) {
    if (e.is_regular_file()) found.push_back(e.path());
  }
  return found;
}

// What the dialogue harness reports for the input ("" when the run went to its end).
std::string replay(const fs::path& input) {
  std::optional<std::string> bytes = testkit::read_file(input);
  if (!bytes) return "the input cannot be read";
  return run_dialogue(reinterpret_cast<const uint8_t*>(bytes->data()), bytes->size());
}

// The seed dialogues, and every input kept in fuzz/regressions/ once it broke
// the program (there may be none yet).
TEST(FuzzReplay, SeedsAndKeptRegressionsRunToTheirEnd) {
  enter_scratch_dir();
  std::vector<fs::path> seeds = inputs_in(kFuzzDir / "corpus");
  ASSERT_GE(seeds.size(), 10u) << "the seed corpus is missing from " << kFuzzDir;
  std::vector<fs::path> kept = inputs_in(kFuzzDir / "regressions");
  seeds.insert(seeds.end(), kept.begin(), kept.end());
  for (const fs::path& input : seeds) EXPECT_EQ(replay(input), "") << input;
}

}  // namespace
}  // namespace orvel
