// The export command: the records DISPLAY lists as CSV, JSON Lines or vCard, and its text pieces.
#pragma once

#include <string>
#include <string_view>

#include "app/options.h"

namespace orvel {

// A CSV field (RFC 4180), its bytes as stored: in quotes, its quotes doubled,
// where it holds a comma, a quote or a line end.
std::string csv_field(std::string_view bytes);

// A JSON string, in its quotes, of the bytes as UTF-8.
std::string json_string(std::string_view bytes);

// A vCard text value (RFC 6350) of the bytes as UTF-8: backslash, comma and
// semicolon escaped, a line end as \n, other control characters, which the
// format cannot carry, as U+FFFD.
std::string vcard_text(std::string_view bytes);

// A vCard content line with its CRLF, folded so that no line passes 75 octets,
// never inside a UTF-8 character.
std::string folded(std::string_view line);

// Reads the kind's data file under the shared lock and writes its export to
// standard output; the exit status (1: the file could not be read).
int run_export(Kind kind, Format format);

// Why a data file could not be read, for a message.
std::string read_failure(int error);

// Writes all the bytes to standard output; says so on standard error where it cannot.
bool put_out(std::string_view bytes);

}  // namespace orvel
