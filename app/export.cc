// The export command: the records DISPLAY lists as CSV, JSON Lines or vCard.
#include "app/export.h"

#include <errno.h>
#include <unistd.h>

#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <type_traits>
#include <vector>

#include "console/text.h"
#include "records/data_file.h"

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

// The shortest decimal that reads back as the same single-precision value,
// with a point whatever the locale; "nan", "inf" and "-inf" as such.
std::string cost_text(float cost) {
  char buf[32];
  return std::string(buf, std::to_chars(buf, buf + sizeof buf, cost).ptr);
}

// Not a JSON number: the text as a string instead.
std::string json_cost(float cost) {
  return std::isfinite(cost) ? cost_text(cost) : json_string(cost_text(cost));
}

// A URI of the bytes as UTF-8: what a URI may not hold, and the comma and
// semicolon, at which vCard readers split values, percent-encoded.
std::string vcard_uri(std::string_view bytes) {
  constexpr std::string_view kKept = "-._~:/?#[]@!$&'()*+=%";
  std::string out;
  for (char ch : valid_utf8(bytes)) {
    const unsigned char c = ch;
    const bool alnum = (c >= '0' && c <= '9') || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
    if (alnum || kKept.find(ch) != std::string_view::npos) {
      out += ch;
    } else {
      out += hex_escape("%%%02X", c);
    }
  }
  return out;
}

// A card's fields, as the record's bytes.
struct Card {
  std::string_view number, given, family, prefix;
  std::string_view street, locality, region, code;
  std::string_view tel, cell, email, url, birthday;
};

// FN is the names, or the record's number where it has none (a card must have one).
std::string vcard(const Card& c) {
  std::string name(c.given);
  if (!c.given.empty() && !c.family.empty()) name += ' ';
  name += c.family;
  std::string out = "BEGIN:VCARD\r\nVERSION:4.0\r\n";
  out += folded("FN:" + vcard_text(name.empty() ? c.number : name));
  out += folded("N:" + vcard_text(c.family) + ";" + vcard_text(c.given) + ";;" +
                vcard_text(c.prefix) + ";");
  if (!(c.street.empty() && c.locality.empty() && c.region.empty() && c.code.empty())) {
    out += folded("ADR:;;" + vcard_text(c.street) + ";" + vcard_text(c.locality) + ";" +
                  vcard_text(c.region) + ";" + vcard_text(c.code) + ";");
  }
  auto put = [&out](std::string_view property, std::string_view value, auto as) {
    if (!value.empty()) out += folded(std::string(property) + as(value));
  };
  put("TEL;TYPE=voice:", c.tel, vcard_text);
  put("TEL;TYPE=cell:", c.cell, vcard_text);
  put("EMAIL:", c.email, vcard_text);
  put("URL:", c.url, vcard_uri);
  put("BDAY;VALUE=text:", c.birthday, vcard_text);
  return out + "END:VCARD\r\n";
}

// The town is the address's locality and the city its region, as in "Kadıköy, İstanbul".
std::string card_of(const Customer& r) {
  return vcard({field(r.cust_no).text(),
                field(r.fname).text(),
                field(r.surname).text(),
                field(r.cust_title).text(),
                field(r.street).text(),
                field(r.town).text(),
                field(r.city).text(),
                field(r.p_code).text(),
                field(r.tel_no).text(),
                {},
                {},
                {},
                field(r.dob).text()});
}

std::string card_of(const Friend& r) {
  return vcard({field(r.f_no).text(),
                field(r.fname).text(),
                field(r.surname).text(),
                {},
                field(r.street).text(),
                field(r.town).text(),
                field(r.city).text(),
                field(r.p_code).text(),
                field(r.tel_no).text(),
                field(r.mob_no).text(),
                field(r.email).text(),
                field(r.url).text(),
                field(r.dob).text()});
}

template <class Rec>
std::string export_of(const std::vector<Rec>& table, Format format) {
  std::string out;
  // The add counter and its step (the int fields) are not record data.
  auto exported = [](const RecordField& f) { return f.kind != FieldKind::kInt; };
  if (format == Format::kCsv) {
    const char* comma = "";
    for (const RecordField& f : fields_of<Rec>()) {
      if (!exported(f)) continue;
      out += comma;
      out += f.name;
      comma = ",";
    }
    out += "\r\n";
  }
  for (const Rec& r : table) {
    if (is_empty(r)) continue;
    if constexpr (!std::is_same_v<Rec, Web>) {
      if (format == Format::kVcard) {
        out += card_of(r);
        continue;
      }
    }
    const bool csv = format == Format::kCsv;
    out += csv ? "" : "{";
    const char* comma = "";
    for (const RecordField& f : fields_of<Rec>()) {
      if (!exported(f)) continue;
      out += comma;
      comma = ",";
      if (!csv) out += json_string(f.name) + ":";
      if (f.kind == FieldKind::kCost) {
        float cost;
        memcpy(&cost, reinterpret_cast<const char*>(&r) + f.offset, sizeof cost);
        out += csv ? cost_text(cost) : json_cost(cost);
      } else {
        out += csv ? csv_field(text_of(r, f)) : json_string(text_of(r, f));
      }
    }
    out += csv ? "\r\n" : "}\n";
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

std::string read_failure(int error) {
  if (error == ETIMEDOUT) return "another program has held its lock for 5 seconds";
  return strerror(error);
}

bool put_out(std::string_view bytes) {
  while (!bytes.empty()) {
    ssize_t n = write(STDOUT_FILENO, bytes.data(), bytes.size());
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      fprintf(stderr, "orvel: standard output: %s\n", strerror(n < 0 ? errno : EIO));
      return false;
    }
    bytes.remove_prefix(static_cast<size_t>(n));
  }
  return true;
}

// A missing file is an empty table, as the menus show it.
int run_export(Kind kind, Format format) {
  return with_kind(kind, [format](auto tag) {
    using Rec = decltype(tag);
    FileRead got = read_data_file(file_of<Rec>(), sizeof(Rec) * kSlots);
    if (got.state == FileRead::kFailed) {
      fprintf(stderr, "orvel: %s: %s\n", file_of<Rec>(), read_failure(got.error).c_str());
      return 1;
    }
    return put_out(export_of(table_of<Rec>(got.image), format)) ? 0 : 1;
  });
}

}  // namespace orvel
