// The loop every menu runs: draw on a cleared screen, read a choice, clear, act.
#include "dialogue/menu.h"

#include "console/console.h"

namespace orvel {

namespace {

const Option* find_option(const std::vector<Option>& options, char key) {
  for (const Option& option : options) {
    if (option.key == key) return &option;
  }
  return nullptr;
}

}  // namespace

void run_menu(const std::vector<Literal>& frame, const std::function<void()>& before,
              const std::vector<Option>& options) {
  char choice = 0;
  for (;;) {
    if (before) before();
    con().clear_screen();
    for (Literal line : frame) con().text(line);
    con().choice_input(choice);
    con().clear_screen();
    const Option* option = find_option(options, choice);
    if (!option) continue;
    if (option->act) option->act();
    if (option->leaves) return;
  }
}

void run_framed_menu(Literal title, std::initializer_list<Literal> lines,
                     const std::function<void()>& before, const std::vector<Option>& options) {
  constexpr Literal kRule = "\n\t\t--------------------------";
  std::vector<Literal> frame = {"\n\n\t\t--------------------------", title, kRule};
  frame.insert(frame.end(), lines);
  frame.insert(frame.end(), {kRule, "\n\n\t\t Enter Number:"});
  run_menu(frame, before, options);
}

}  // namespace orvel
