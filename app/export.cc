// The text pieces of the exports: CSV, JSON Lines and vCard values of a record's bytes.
#include "app/export.h"

#include <cstdio>

namespace orvel {

namespace {

constexpr char kReplacement[] = "\xEF\xBF\xBD";  // U+FFFD

std::string hex_escape(const char* form, unsigned char c) {
  char buf[8];
  snprintf(buf, sizeof buf, form, c);
  return buf;
}

// The bytes as UTF-8: each longest start of a sequence that cannot become
// valid UTF-8 turns into one U+FFFD, as Unicode recommends. After Table 3-7
// of its standard, the second byte's range depends on the first (no overlong
// forms, no surrogates, nothing past U+10FFFF).
std::string valid_utf8(std::string_view bytes) {
  std::string out;
  size_t i = 0;
  while (i < bytes.size()) {
    const unsigned char c = bytes[i];
    size_t length = 0;
    unsigned char low = 0x80, high = 0xBF;
    if (c < 0x80) length = 1;
    if (c >= 0xC2 && c <= 0xDF) length = 2;
    if (c >= 0xE0 && c <= 0xEF) length = 3;
    if (c >= 0xF0 && c <= 0xF4) length = 4;
    if (c == 0xE0) low = 0xA0;
    if (c == 0xED) high = 0x9F;
    if (c == 0xF0) low = 0x90;
    if (c == 0xF4) high = 0x8F;
    size_t n = 1;
    for (; n < length && i + n < bytes.size(); ++n) {
      const unsigned char next = bytes[i + n];
      if (next < (n == 1 ? low : 0x80) || next > (n == 1 ? high : 0xBF)) break;
    }
    if (n == length) {
      out.append(bytes.substr(i, n));
    } else {
      out += kReplacement;
    }
    i += n;
  }
  return out;
}

}  // namespace

std::string csv_field(std::string_view bytes) {
  if (bytes.find_first_of(",\"\r\n") == std::string_view::npos) return std::string(bytes);
  std::string out = "\"";
  for (char c : bytes) {
    if (c == '"') out += '"';
    out += c;
  }
  return out + "\"";
}

std::string json_string(std::string_view bytes) {
  std::string out = "\"";
  for (char ch : valid_utf8(bytes)) {
    const unsigned char c = ch;
    if (c == '"' || c == '\\') out += '\\';
    if (c < 0x20) {
      out += hex_escape("\\u%04x", c);
    } else {
      out += ch;
    }
  }
  return out + "\"";
}

std::string vcard_text(std::string_view bytes) {
  const std::string text = valid_utf8(bytes);
  std::string out;
  for (size_t i = 0; i < text.size(); ++i) {
    const unsigned char c = text[i];
    if (c == '\\' || c == ',' || c == ';') {
      out += '\\';
      out += text[i];
    } else if (c == '\r' || c == '\n') {
      out += "\\n";
      if (c == '\r' && i + 1 < text.size() && text[i + 1] == '\n') ++i;
    } else if ((c < 0x20 && c != '\t') || c == 0x7F) {
      out += kReplacement;
    } else {
      out += text[i];
    }
  }
  return out;
}

// The first line takes 75 octets, each next one a blank and 74; a cut that
// would fall inside a character goes back to its start.
std::string folded(std::string_view line) {
  std::string out;
  size_t room = 75;
  while (line.size() > room) {
    size_t cut = room;
    while ((static_cast<unsigned char>(line[cut]) & 0xC0) == 0x80) --cut;
    out.append(line.substr(0, cut));
    out += "\r\n ";
    line.remove_prefix(cut);
    room = 74;
  }
  out.append(line);
  return out + "\r\n";
}

}  // namespace orvel
