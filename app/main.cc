// Orvel Database: reads the command line, then runs a command or the console's main menu.
#include <errno.h>
#include <signal.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>

#include "app/check.h"
#include "app/export.h"
#include "app/options.h"
#include "app/pcco.h"
#include "console/console.h"
#include "console/terminal.h"

int main(int argc, char* argv[]) {
  const orvel::CommandLine line = orvel::parse_command_line(argc, argv);
  switch (line.action) {
    case orvel::CommandLine::kHelp:
      return orvel::put_out(orvel::kUsageText) ? 0 : 1;
    case orvel::CommandLine::kVersion:
      return orvel::put_out(orvel::kVersionText) ? 0 : 1;
    case orvel::CommandLine::kWrong:
      fprintf(stderr, "orvel: %s; see orvel --help\n", line.wrong.c_str());
      return 2;
    default:
      break;
  }
  // A wrong directory is a wrong command line, as for make -C.
  for (const std::string& dir : line.directories) {
    if (chdir(dir.c_str()) != 0) {
      fprintf(stderr, "orvel: cannot work in %s: %s\n", dir.c_str(), strerror(errno));
      return 2;
    }
  }
  if (line.action == orvel::CommandLine::kExport) return orvel::run_export(line.kind, line.format);
  if (line.action == orvel::CommandLine::kCheck) return orvel::run_check();
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
