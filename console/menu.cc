// The loop every menu runs: draw on a cleared screen, read a choice, clear, act.
#include "console/menu.h"

#include "console/console.h"

namespace orvel {

void run_menu(std::initializer_list<std::string_view> frame, const std::function<void()>& before,
              const std::function<bool(char)>& act) {
  char choice = 0;
  do {
    if (before) before();
    con().clear_screen();
    con().text(frame);
    con().choice_input(choice);
    con().clear_screen();
  } while (act(choice));
}

}  // namespace orvel
