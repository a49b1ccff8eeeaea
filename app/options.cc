// The command line, read with getopt_long: options before, between or after the operands.
#include "app/options.h"

#include <getopt.h>

#include <string_view>
#include <utility>

#ifndef ORVEL_VERSION
#error "the build passes the project's version as ORVEL_VERSION"
#endif

namespace orvel {

const char kUsageText[] =
    "Usage: orvel [-C DIR]\n"
    "       orvel [-C DIR] export KIND [--format=FORMAT]\n"
    "       orvel [-C DIR] check\n"
    "With no command, the menus. The records are kept in customer.dat, web.dat\n"
    "and friend.dat in the current directory.\n"
    "\n"
    "Commands:\n"
    "  export KIND          write the records DISPLAY lists to standard output;\n"
    "                       KIND is customers, web or friends\n"
    "  check                look the three data files over, changing nothing\n"
    "\n"
    "Options:\n"
    "  -C, --directory=DIR  work in DIR instead of the current directory\n"
    "      --format=FORMAT  csv (the default), json (an object a line), or\n"
    "                       vcard (customers and friends)\n"
    "  -h, --help           show this help and exit\n"
    "      --version        show the version and license and exit\n"
    "\n"
    "Exit status: 0 done, 1 a file that cannot be read or is not sound,\n"
    "2 a wrong command line. More in the manual page: man orvel\n";

const char kVersionText[] =
    "orvel (Orvel Database) " ORVEL_VERSION
    "\n"
    "License GPL-3.0-or-later: GNU GPL version 3 or later <https://gnu.org/licenses/gpl.html>.\n"
    "This is free software: you are free to change and redistribute it.\n"
    "There is NO WARRANTY, to the extent permitted by law.\n";

namespace {

// Long options alone get codes above any character.
enum : int { kVersionOption = 256, kFormatOption };

const option kOptions[] = {{"directory", required_argument, nullptr, 'C'},
                           {"format", required_argument, nullptr, kFormatOption},
                           {"help", no_argument, nullptr, 'h'},
                           {"version", no_argument, nullptr, kVersionOption},
                           {nullptr, 0, nullptr, 0}};

// A long option as it was typed, without what follows its '='.
std::string long_name(std::string_view arg) { return std::string(arg.substr(0, arg.find('='))); }

// The option getopt_long stopped at: long where the argument it took last is
// one, else the short letter (in a group such as -hx, that argument is not it).
std::string option_named(const char* last, int letter) {
  std::string_view arg = last;
  if (arg.starts_with("--")) return long_name(arg);
  return std::string("-") + static_cast<char>(letter);
}

bool kind_named(std::string_view name, Kind& kind) {
  const std::pair<std::string_view, Kind> kinds[] = {{"customers", Kind::kCustomers},
                                                     {"customer", Kind::kCustomers},
                                                     {"web", Kind::kWeb},
                                                     {"webs", Kind::kWeb},
                                                     {"friends", Kind::kFriends},
                                                     {"friend", Kind::kFriends}};
  for (const auto& [n, k] : kinds) {
    if (n == name) {
      kind = k;
      return true;
    }
  }
  return false;
}

bool format_named(std::string_view name, Format& format) {
  if (name == "csv") format = Format::kCsv;
  if (name == "json") format = Format::kJson;
  if (name == "vcard") format = Format::kVcard;
  return name == "csv" || name == "json" || name == "vcard";
}

// What the operands and the format ask for, once every option is read.
CommandLine::Action command_of(const std::vector<std::string>& operands, const char* format,
                               CommandLine& line) {
  auto wrong = [&](std::string what) {
    line.wrong = std::move(what);
    return CommandLine::kWrong;
  };
  const size_t takes = !operands.empty() && operands[0] == "export" ? 2 : 1;
  if (operands.size() > takes) return wrong("unexpected argument '" + operands[takes] + "'");
  if (operands.empty() || operands[0] == "check") {
    if (format) return wrong("--format is for export only");
    return operands.empty() ? CommandLine::kDialogue : CommandLine::kCheck;
  }
  if (operands[0] != "export") return wrong("unknown command '" + operands[0] + "'");
  if (operands.size() < 2) return wrong("export needs a kind: customers, web or friends");
  if (!kind_named(operands[1], line.kind))
    return wrong("unknown kind '" + operands[1] + "': customers, web or friends");
  if (format && !format_named(format, line.format))
    return wrong("unknown format '" + std::string(format) + "': csv, json or vcard");
  if (line.format == Format::kVcard && line.kind == Kind::kWeb)
    return wrong("web pages have no vCard form: csv or json");
  return CommandLine::kExport;
}

}  // namespace

CommandLine parse_command_line(int argc, char* argv[]) {
  CommandLine line;
  std::vector<std::string> operands;
  const char* format = nullptr;
  auto wrong = [&](std::string what) {
    line.action = CommandLine::kWrong;
    line.wrong = std::move(what);
    return line;
  };
  opterr = 0;  // the messages are ours, one line each
  optind = 0;  // a fresh scan
  // '-' gives the operands back in place (as code 1), so options may follow a
  // command even where POSIXLY_CORRECT asks getopt to stop at the first one;
  // ':' tells a missing argument from an unknown option.
  for (int opt; (opt = getopt_long(argc, argv, "-:C:h", kOptions, nullptr)) != -1;) {
    switch (opt) {
      case 1:
        operands.emplace_back(optarg);
        break;
      case 'C':
        line.directories.emplace_back(optarg);
        break;
      case kFormatOption:
        format = optarg;
        break;
      case 'h':
        line.action = CommandLine::kHelp;
        return line;
      case kVersionOption:
        line.action = CommandLine::kVersion;
        return line;
      case ':':
        return wrong("option '" + option_named(argv[optind - 1], optopt) + "' needs an argument");
      default:  // '?': optopt is 0 for an unknown long option, ours for one given an argument
        if (optopt == 0) return wrong("unknown option '" + long_name(argv[optind - 1]) + "'");
        if (optopt == 'h' || optopt == kVersionOption)
          return wrong("option '" + long_name(argv[optind - 1]) + "' takes no argument");
        return wrong("unknown option '-" + std::string(1, static_cast<char>(optopt)) + "'");
    }
  }
  for (int i = optind; i < argc; ++i) operands.emplace_back(argv[i]);  // after "--"
  line.action = command_of(operands, format, line);
  return line;
}

}  // namespace orvel
