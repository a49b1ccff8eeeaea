// The dialogue every table shares: saving with a word when it fails, the add
// slot, searches, listings, and an update's change of every holder of a key.
#pragma once

#include <functional>
#include <optional>

#include "console/console.h"
#include "records/table.h"
#include "records/table_file.h"

namespace orvel {

// The system's own not-found text: "Fount" is how it has always read, and the
// web-number search alone says "Found" (web/webs.cc).
inline constexpr Literal kNotFount = "\n**File Not Fount**\n";

// A save that could not be made says so and waits; the old file stays as it was.
inline void say_not_saved() {
  con().text("\n**File Not Saved**\n");
  con().pause();
}

template <class Rec>
void save_table(TableFile<Rec>& file, Table<Rec>& table) {
  if (!file.save(table)) say_not_saved();
}

template <class Rec>
void load_table(TableFile<Rec>& file, Table<Rec>& table) {
  file.load(table);
}

// The slot the next add fills. A negative counter adds nothing, silently; a
// full table says so and waits.
template <class Rec>
std::optional<int> add_slot(const Table<Rec>& table) {
  int64_t slot = next_add_slot(table);
  if (slot > kSlots - 1) return std::nullopt;
  if (slot < 0) {
    con().text("\n**Table Full**\n");
    con().pause();
    return std::nullopt;
  }
  return static_cast<int>(slot);
}

// The linear pass of every search and update: all 500 slots from 0 up, empty
// ones included; each match is acted on, then a newline. No match: not_found.
template <class Rec, class Match, class Act>
void for_each_match(Table<Rec>& table, Match matches, Act act, Literal not_found) {
  bool found = false;
  for (int slot = 0; slot < kSlots; ++slot) {
    if (!matches(table[slot])) continue;
    act(slot);
    found = true;
    con().formatted("\n");
  }
  if (!found) con().text(not_found);
}

// A search: every hit shown, then one pause after the whole result.
template <class Rec, class Match, class Show>
void search(Table<Rec>& table, Match matches, Show show, Literal not_found) {
  for_each_match(table, matches, show, not_found);
  con().pause();
}

// A listing: every slot that is not empty, from 0 up, with a pause after each.
template <class Rec, class Show>
void list_all(const Table<Rec>& table, Show show) {
  for (int slot = 0; slot < kSlots; ++slot) {
    if (is_empty(table[slot])) continue;
    show(table[slot]);
    con().pause();
  }
}

// An update option: every holder of the key changed in turn, each change saved
// at once where `save` is given (the Rehber saves at every pass of its menu
// instead), then a newline; "**File Not Fount**" when no slot holds the key.
template <class Rec, class Match>
std::function<void()> change_every_holder(Table<Rec>& table, Match matches,
                                          std::function<void(Rec&)> change,
                                          std::function<void()> save = {}) {
  return [&table, matches, change, save] {
    for_each_match(
        table, matches,
        [&](int slot) {
          change(table[slot]);
          if (save) save();
        },
        kNotFount);
  };
}

}  // namespace orvel
