// The pattern the three sub-menus share: reload, draw, dispatch, save on leaving.
#pragma once

#include <functional>

#include "console/text.h"

namespace orvel {

struct SubMenu {
  Literal title;
  Literal options[4];
  std::function<void()> operations[4];
  std::function<void()> load;
  std::function<void()> save;
  bool silent_exit;  // '6' leaves without saving (customers only)
};

void run_sub_menu(const SubMenu& menu);

}  // namespace orvel
