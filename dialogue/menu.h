// The loop every menu runs: draw on a cleared screen, read a choice, clear, act.
#pragma once

#include <functional>
#include <initializer_list>
#include <vector>

#include "console/text.h"

namespace orvel {

struct Option {
  char key;
  std::function<void()> act;  // may be empty
  bool leaves = false;        // the menu ends after this option
};

// Each pass runs `before` (if any), clears the screen, prints the frame, reads
// one choice and clears the screen again; the matching option acts, and the
// menu ends on an option that leaves. Any other choice just draws it again.
void run_menu(std::initializer_list<Literal> frame, const std::function<void()>& before,
              const std::vector<Option>& options);

}  // namespace orvel
