// The exports' text pieces: CSV quoting, JSON strings, UTF-8 repair, vCard values and folding.
#include "app/export.h"

#include <gtest/gtest.h>

#include <string>

namespace orvel {
namespace {

const std::string kBad = "\xEF\xBF\xBD";  // U+FFFD

// One stored field in each format: CSV keeps the bytes; JSON and vCard carry
// UTF-8, each longest part that cannot be one as a single U+FFFD.
TEST(ExportText, FieldInEachFormat) {
  const struct {
    std::string stored, csv, json, vcard;
  } cases[] = {
      {"say \"hi\", a\\b;", "\"say \"\"hi\"\", a\\b;\"", "\"say \\\"hi\\\", a\\\\b;\"",
       "say \"hi\"\\, a\\\\b\\;"},
      {"a\tb\r\nc\nd", "\"a\tb\r\nc\nd\"", "\"a\\u0009b\\u000d\\u000ac\\u000ad\"", "a\tb\\nc\\nd"},
      {"\x1b[2J\x7f", "\x1b[2J\x7f", "\"\\u001b[2J\x7f\"", kBad + "[2J" + kBad},
      {"\xE2\x82!\xff", "\xE2\x82!\xff", "\"" + kBad + "!" + kBad + "\"",  // a cut €, a stray byte
       kBad + "!" + kBad},
      {"\xC0\xAF\xED\xA0\x80", "\xC0\xAF\xED\xA0\x80",
       "\"" + kBad + kBad + kBad + kBad + kBad + "\"",
       kBad + kBad + kBad + kBad + kBad},  // an overlong slash, a surrogate
      {"\xF4\x90\x80\x80\xF0\x9F\x98\x80", "\xF4\x90\x80\x80\xF0\x9F\x98\x80",
       "\"" + kBad + kBad + kBad + kBad + "\xF0\x9F\x98\x80\"",  // past U+10FFFF, then U+1F600
       kBad + kBad + kBad + kBad + "\xF0\x9F\x98\x80"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.stored);
    EXPECT_EQ(csv_field(c.stored), c.csv);
    EXPECT_EQ(json_string(c.stored), c.json);
    EXPECT_EQ(vcard_text(c.stored), c.vcard);
  }
}

// 75 octets a line, the CRLF and the next line's blank not counted among them.
TEST(ExportText, FoldingNeverCutsACharacter) {
  const std::string a74(74, 'a');
  const struct {
    std::string line, folded;
  } cases[] = {
      {a74 + "b", a74 + "b\r\n"},
      {a74 + "bc", a74 + "b\r\n c\r\n"},
      {a74 + "ş", a74 + "\r\n ş\r\n"},
      {a74 + "b" + a74 + "€", a74 + "b\r\n " + a74 + "\r\n €\r\n"},
  };
  for (const auto& c : cases) EXPECT_EQ(folded(c.line), c.folded);
}

}  // namespace
}  // namespace orvel
