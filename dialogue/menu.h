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
void run_menu(const std::vector<Literal>& frame, const std::function<void()>& before,
              const std::vector<Option>& options);

// The find and update menus of every kind, drawn in one frame: a rule, the
// title, a rule, the options, a rule and "Enter Number:".
void run_framed_menu(Literal title, std::initializer_list<Literal> lines,
                     const std::function<void()>& before, const std::vector<Option>& options);

}  // namespace orvel
