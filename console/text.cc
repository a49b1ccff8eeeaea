// Where a field's text is cut, and how a terminal is allowed to see it.
#include "console/text.h"

namespace orvel {

namespace {

bool is_continuation(unsigned char c) { return c >= 0x80 && c <= 0xbf; }

// The length of the character a lead byte starts, or 0 for a byte that leads none.
size_t utf8_length(unsigned char c) {
  if (c >= 0xc2 && c <= 0xdf) return 2;
  if (c >= 0xe0 && c <= 0xef) return 3;
  if (c >= 0xf0 && c <= 0xf4) return 4;
  return 0;
}

}  // namespace

size_t utf8_cut(std::string_view bytes, size_t limit) {
  if (bytes.size() <= limit) return bytes.size();
  // Back over the continuation bytes before the cut to the byte that may lead them.
  size_t lead = limit;
  while (lead > 0 && limit - lead < 3 && is_continuation(bytes[lead - 1])) --lead;
  if (lead == 0) return limit;
  --lead;
  size_t length = utf8_length(bytes[lead]);
  if (lead + length <= limit) return limit;  // no character runs past the cut
  if (lead + length > bytes.size()) return limit;
  for (size_t i = limit; i < lead + length; ++i) {
    if (!is_continuation(bytes[i])) return limit;  // not UTF-8: single bytes
  }
  return lead;
}

std::string masked(std::string_view text) {
  std::string out(text);
  for (char& c : out) {
    if ((c >= 0 && c < 32 && c != '\t') || c == 127) c = '?';
  }
  return out;
}

}  // namespace orvel
