// Key presses of a raw terminal turned into codes.
#include <gtest/gtest.h>

#include <string>

#include "console/keys.h"

namespace orvel {
namespace {

// Gives the bytes in order, then -1 (nothing more within any wait).
struct Bytes {
  std::string bytes;
  size_t pos = 0;
  int operator()(int) { return pos < bytes.size() ? static_cast<unsigned char>(bytes[pos++]) : -1; }
};

TEST(KeyCode, EachSequenceIsOneKeyPress) {
  const std::pair<const char*, bool> cases[] = {
      // bytes, two-step
      {"a", false},      {"\r", false},      {"\x03", false},     {"\x1b\x1b", false},
      {"\x1bOP", true},  {"\x1b[11~", true}, {"\x1b[A", true},    {"\x1b[1;5A", true},
      {"\x1b[[A", true}, {"\x1bx", true},    {"\xc3\xa9", false}, {"\xe2\x82\xac", false},
  };
  for (auto [seq, two_step] : cases) {
    Bytes in{std::string(seq) + "z"};
    int code = read_key_code(std::ref(in));
    EXPECT_EQ(code >= 256, two_step) << seq;
    EXPECT_GE(code, 0) << seq;
    EXPECT_EQ(read_key_code(std::ref(in)), 'z') << seq;  // the whole press was taken
  }
  Bytes lone_esc{"\x1b"};  // nothing follows within the wait
  EXPECT_EQ(read_key_code(std::ref(lone_esc)), 27);
  Bytes closed{""};
  EXPECT_EQ(read_key_code(std::ref(closed)), -1);
}

}  // namespace
}  // namespace orvel
