// The menu controller: the main menu, its quit confirmation and the three sub-menus.
// Every text is the system's own, byte for byte, as users have always seen it:
// "rely" and "Frient" included, trailing blanks too.
#include "app/pcco.h"

#include "app/sub_menu.h"
#include "console/console.h"
#include "dialogue/menu.h"
#include "records/data_file.h"

namespace orvel {

void PCco::main_menu() {
  // A save keeps its file's lock for the sub-menu's load right after it; nobody
  // waits on it while the program writes or waits for a key.
  con().on_wait(release_kept_lock);
  run_menu({"\n\t\t --------------------------", "\n\t\t   Orvel Database", "\n\t\t      MAIN MENU",
            "\n\t\t Design by: www.orvel.example", "\n\t\t --------------------------",
            "\n\t\t 1. Customer Menu", "\n\t\t 2. Web Menu", "\n\t\t 3. Rehber", "\n\t\t 4. Exit",
            "\n\t\t-----------------------------", "\n\t\t Enter number: "},
           {},
           {{'1', [this] { cust_menu(); }},
            {'2', [this] { web_menu(); }},
            {'3', [this] { fri_menu(); }},
            {'4', [this] { quit_confirmation(); }}});
}

// Printed below itself until the answer is '1' (quit) or '2' (back).
void PCco::quit_confirmation() {
  char op = 0;
  for (;;) {
    con().text({"\n\t\t Do you rely want to quit?", "\n\t\t.....................................",
                "\n\t\t 1. Yes \n\t\t 2. No \n\t\t Enter number: "});
    con().choice_input(op);
    if (op == '1') {
      con().text("\n\t\tBye...");
      con().immediate_exit(0);
    }
    if (op == '2') return;
  }
}

void PCco::cust_menu() {
  run_sub_menu({"\n\t\t       CUSTOMER MENU  ",
                {"\n\t\t 1. ADD Customer ", "\n\t\t 2. FIND Customer",
                 "\n\t\t 3. DISPLAY Customers", "\n\t\t 4. UPDATE Customer "},
                {[this] { cust.add_cust(); }, [this] { cust.find_cust(); },
                 [this] { cust.display_all_cust(); }, [this] { cust.update_cust(); }},
                [this] { cust.load_cust(); },
                [this] { cust.save_cust(); },
                true});
}

void PCco::web_menu() {
  run_sub_menu({"\n\t\t        WEB MENU  ",
                {"\n\t\t 1. ADD Web", "\n\t\t 2. FIND Web", "\n\t\t 3. DISPLAY Webs",
                 "\n\t\t 4. UPDATE Web"},
                {[this] { web.add_web(); }, [this] { web.find_web(); },
                 [this] { web.display_all_web(); }, [this] { web.update_web(); }},
                [this] { web.load_web(); },
                [this] { web.save_web(); },
                false});
}

void PCco::fri_menu() {
  run_sub_menu({"\n\t\t        REHBER MENU  ",
                {"\n\t\t 1. ADD Friend", "\n\t\t 2. FIND Friend", "\n\t\t 3. DISPLAY Friends",
                 "\n\t\t 4. UPDATE Frient Details"},
                {[this] { reh.add_fri(); }, [this] { reh.find_fri(); },
                 [this] { reh.display_all_fri(); }, [this] { reh.update_fri(); }},
                [this] { reh.load_fri(); },
                [this] { reh.save_fri(); },
                false});
}

}  // namespace orvel
