// Orvel Database: starts the console and hands control to the main menu.
#include <signal.h>

#include "app/pcco.h"
#include "console/console.h"
#include "console/terminal.h"

int main() {
  // A full disk or a file-size limit is a failed save, not the end of the program;
  // a reader that went away is no reason to die either.
  signal(SIGXFSZ, SIG_IGN);
  signal(SIGPIPE, SIG_IGN);
  orvel::Terminal terminal;
  orvel::Console console(terminal);
  orvel::set_console(&console);
  orvel::PCco pcco;
  pcco.main_menu();
}
