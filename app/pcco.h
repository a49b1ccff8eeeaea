// The menu controller: the main menu, its quit confirmation and the three sub-menus.
#pragma once

#include "customer/cust.h"
#include "rehber/reh.h"
#include "web/webs.h"

namespace orvel {

class PCco {
 public:
  // Runs until the user confirms quitting; the process ends there.
  void main_menu();
  void cust_menu();
  void web_menu();
  void fri_menu();

 private:
  // Ends the process on '1'; returns on '2', back to the main menu.
  void quit_confirmation();

  Cust cust;
  Webs web;
  Reh reh;
};

}  // namespace orvel
