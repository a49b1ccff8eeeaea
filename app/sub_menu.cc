// The pattern the three sub-menus share: reload, draw, dispatch, save on leaving.
#include "app/sub_menu.h"

#include "dialogue/menu.h"

namespace orvel {

// The table is reloaded before every display, so what is shown is what is on disk.
void run_sub_menu(const SubMenu& menu) {
  run_menu(
      {"\n\t\t --------------------------", menu.title, "\n\t\t --------------------------",
       menu.options[0], menu.options[1], menu.options[2], menu.options[3], "\n\t\t 5. MAIN MENU",
       "\n\t\t-----------------------------------", "\n\t\t Enter number: "},
      menu.load,
      {{'1', menu.operations[0]},
       {'2', menu.operations[1]},
       {'3', menu.operations[2]},
       {'4', menu.operations[3]},
       {'5', menu.save, true},
       {'6', {}, menu.silent_exit}});
}

}  // namespace orvel
