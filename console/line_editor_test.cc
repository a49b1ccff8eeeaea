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
  } cases[] = {
      {"\n SURNAME: ", "\n SURNAME: "},
      {"\t\t Enter number: ", std::string(16, ' ') + " Enter number: "},
      {"ab\tc", "ab      c"},
      {"12345678\t", "12345678        "},
      {"ab\n\tc", "ab\n        c"},  // the stops count from the line's start
      // A two-byte character takes one column before the tab.
      {"\xc3\xbc\t", "\xc3\xbc       "},
      {"\x1b[H\x1b[2Jx\t", "\x01\x1b[H\x02\x01\x1b[2J\x02x       "},
      {"", ""},
  };
  for (const auto& c : cases) EXPECT_EQ(prompt_for(c.shown), c.prompt) << c.shown;
  EXPECT_EQ(screen_column("ab\n\xc3\xbc\t\x1b[Hx"), 9u);  // where the cursor stands after it
}

}  // namespace
}  // namespace orvel
