// The check command: each data file's size, add counter and records, as a person reads them.
#include "app/check.h"

#include <cstdint>
#include <string>
#include <vector>

#include "app/export.h"
#include "app/kinds.h"
#include "records/data_file.h"

namespace orvel {

namespace {

std::string number(int64_t n) { return std::to_string(n); }

// 90,000, as the manual page gives the files' sizes. Built by appending: GCC 12
// at -O3 takes an insert into the string for an overlapping copy (-Wrestrict).
std::string grouped(int64_t n) {
  const std::string digits = std::to_string(n);
  std::string out;
  for (size_t i = 0; i < digits.size(); ++i) {
    if (i > 0 && digits[i - 1] != '-' && (digits.size() - i) % 3 == 0) out += ',';
    out += digits[i];
  }
  return out;
}

// "slot 4", "slots 4, 7 and 9", or the first ten "and 31 more".
std::string slots_listed(const std::vector<std::string>& items) {
  constexpr size_t kShown = 10;
  const size_t shown = std::min(items.size(), kShown);
  std::string out = items.size() == 1 ? "slot " : "slots ";
  for (size_t i = 0; i < shown; ++i) {
    if (i > 0) out += i + 1 == shown && items.size() <= kShown ? " and " : ", ";
    out += items[i];
  }
  if (items.size() > kShown) out += " and " + number(items.size() - kShown) + " more";
  return out;
}

struct Report {
  bool sound;
  std::string text;
};

// The add counter and the slots it has passed, from 499 down. A counter step
// the program never sets, or a negative counter, leaves no slots to go by.
template <class Rec>
std::vector<std::string> counter_findings(const std::vector<Rec>& table) {
  std::vector<std::string> findings;
  const int64_t total = table[1].total, num = table[2].num;
  if (num != 0) {
    findings.push_back("the counter step is " + number(num + 1) + " (num in slot 2 is " +
                       number(num) + "), which the program never sets");
  }
  if (total < 0)
    findings.push_back("the add counter is " + number(total) + ", below 0: adds do nothing");
  if (total > kSlots)
    findings.push_back("the add counter is " + number(total) + ", past the table's 500 slots");
  if (num != 0 || total < 0) return findings;
  std::vector<std::string> past, holes;
  for (int slot = 0; slot < kSlots; ++slot) {
    const bool passed = slot >= kSlots - total;
    if (!passed && !is_empty(table[slot])) past.push_back(number(slot));
    if (passed && is_empty(table[slot])) holes.push_back(number(slot));
  }
  if (!past.empty())
    findings.push_back("records past the add counter, where adds write: " + slots_listed(past));
  if (!holes.empty())
    findings.push_back("empty slots below the add counter: " + slots_listed(holes));
  return findings;
}

template <class Rec>
Report check_table(const FileRead& got) {
  const std::string name = file_of<Rec>();
  const int64_t image = sizeof(Rec) * kSlots;
  if (got.state == FileRead::kMissing) return {true, name + ": missing (an empty table)\n"};
  if (got.state == FileRead::kFailed)
    return {false, name + ": cannot be read: " + read_failure(got.error) + "\n"};
  const std::vector<Rec> table = table_of<Rec>(got.image);
  std::vector<std::string> findings;
  if (got.size < image) {
    findings.push_back("short: " + grouped(got.size) + " of " + grouped(image) +
                       " bytes; from slot " + number(got.size / int64_t{sizeof(Rec)}) +
                       " on it reads as zero bytes");
  }
  if (got.tail == FileRead::kUnfinishedSave) {
    findings.push_back("left of a save that did not finish: " + grouped(got.size - image) +
                       " bytes past the table; it reads as it was before that save");
  }
  if (got.tail == FileRead::kOtherBytes) {
    findings.push_back("long: " + grouped(got.size) + " bytes, " + grouped(got.size - image) +
                       " past the table's " + grouped(image) + ", which nothing reads");
  }
  for (std::string& f : counter_findings(table)) findings.push_back(std::move(f));
  std::vector<std::string> open;
  int records = 0;
  for (int slot = 0; slot < kSlots; ++slot) {
    records += !is_empty(table[slot]);
    std::string fields;
    for (const RecordField& f : fields_of<Rec>()) {
      if (f.kind != FieldKind::kText || text_of(table[slot], f).size() < f.width) continue;
      fields += (fields.empty() ? "" : ", ") + std::string(f.name);
    }
    if (!fields.empty()) open.push_back(number(slot) + " (" + fields + ")");
  }
  if (!open.empty())
    findings.push_back("fields without a NUL, read to their full width: " + slots_listed(open));

  std::string text = name + (findings.empty() ? ": sound (" : ": not sound (") + number(records) +
                     (records == 1 ? " record" : " records") + ", add counter " +
                     number(table[1].total) + ")\n";
  for (const std::string& f : findings) text += "  " + f + "\n";
  return {findings.empty(), text};
}

}  // namespace

int run_check() {
  std::string report;
  int unsound = 0;
  auto check = [&](auto tag) {
    using Rec = decltype(tag);
    Report r = check_table<Rec>(read_data_file(file_of<Rec>(), sizeof(Rec) * kSlots));
    report += r.text;
    unsound += !r.sound;
  };
  check(Customer{});
  check(Web{});
  check(Friend{});
  report += unsound == 0 ? "all sound\n"
                         : number(unsound) + (unsound == 1 ? " file" : " files") + " not sound\n";
  if (!put_out(report)) return 1;
  return unsound == 0 ? 0 : 1;
}

}  // namespace orvel
