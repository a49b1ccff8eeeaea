// The three kinds of records as the commands name them, and their tables as a load leaves them.
#pragma once

#include <algorithm>
#include <cstring>
#include <string_view>
#include <vector>

#include "records/records.h"

namespace orvel {

enum class Kind { kCustomers, kWeb, kFriends };

// Calls `act` with a zero record of the kind's type, to pick the type by.
template <class Act>
auto with_kind(Kind kind, Act act) {
  if (kind == Kind::kCustomers) return act(Customer{});
  if (kind == Kind::kWeb) return act(Web{});
  return act(Friend{});
}

// The table as a new session has it once it loaded `image`: the image's bytes
// laid over zero slots, so a short file's missing slots are empty.
template <class Rec>
std::vector<Rec> table_of(std::string_view image) {
  std::vector<Rec> table(kSlots);
  memcpy(table.data(), image.data(), std::min(image.size(), sizeof(Rec) * kSlots));
  return table;
}

// A text field's bytes: up to its NUL, or its whole width where it has none.
template <class Rec>
std::string_view text_of(const Rec& r, const RecordField& f) {
  const char* at = reinterpret_cast<const char*>(&r) + f.offset;
  return {at, strnlen(at, f.width)};
}

}  // namespace orvel
