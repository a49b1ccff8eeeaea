// The command line: the dialogue or a command, how it is asked for, and where to work.
#pragma once

#include <string>
#include <vector>

#include "app/kinds.h"

namespace orvel {

enum class Format { kCsv, kJson, kVcard };

struct CommandLine {
  enum Action { kDialogue, kHelp, kVersion, kExport, kCheck, kWrong } action = kDialogue;
  // -C, in order: each is taken from the one before, as make and git take them.
  std::vector<std::string> directories;
  Kind kind = Kind::kCustomers;
  Format format = Format::kCsv;
  std::string wrong;  // kWrong: what is wrong, naming the argument
};

// Reads the whole command line and opens nothing; -C is only noted.
CommandLine parse_command_line(int argc, char* argv[]);

extern const char kUsageText[];
extern const char kVersionText[];

}  // namespace orvel
