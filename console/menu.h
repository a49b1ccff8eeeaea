// The loop every menu runs: draw on a cleared screen, read a choice, clear, act.
#pragma once

#include <functional>
#include <initializer_list>
#include <string_view>

namespace orvel {

// Each pass runs `before` (if any), clears the screen, prints the frame, reads
// one choice, clears the screen again and hands the choice to `act`, which
// gives false to leave the menu.
void run_menu(std::initializer_list<std::string_view> frame, const std::function<void()>& before,
              const std::function<bool(char)>& act);

}  // namespace orvel
