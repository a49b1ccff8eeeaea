// The line editor's prompt (the screen's line measured as the terminal shows it) and where it is
// used.
#include "console/line_editor.h"

#include <gtest/gtest.h>

namespace orvel {
namespace {

TEST(LineEditorPrompt, TabsGoToTheNextStopAndEscapesTakeNoRoom) {
  const struct {
    std::string_view shown;
    std::string prompt;
    size_t column;  // where the cursor stands after it
  } cases[] = {
      {"\n SURNAME: ", "\n SURNAME: ", 10},
      {"\t\t Enter number: ", std::string(16, ' ') + " Enter number: ", 31},
      {"ab\tc", "ab      c", 9},
      {"12345678\t", "12345678        ", 16},
      {"ab\n\tc", "ab\n        c", 9},  // the stops count from the line's start
      // A two-byte character takes one column before the tab.
      {"\xc3\xbc\t", "\xc3\xbc       ", 8},
      {"\x1b[H\x1b[2Jx\t", "\x01\x1b[H\x02\x01\x1b[2J\x02x       ", 8},
      {"", "", 0},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(prompt_for(c.shown), c.prompt) << c.shown;
    EXPECT_EQ(screen_column(c.shown), c.column) << c.shown;
  }
}

}  // namespace
}  // namespace orvel
