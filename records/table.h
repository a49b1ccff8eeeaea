// What every table does the same way: save and load, the add slot and counter, the search.
#pragma once

#include <cstdint>
#include <optional>
#include <span>

#include "console/console.h"
#include "records/data_file.h"
#include "records/records.h"
#include "records/table_file.h"

namespace orvel {

template <class Rec>
using Table = Rec[kSlots];

// A save that could not replace the file says so; the old file stays as it was.
inline void say_not_saved() {
  con().text("\n**File Not Saved**\n");
  con().pause();
}

template <class Rec>
void save_table(const DataFile& file, const Table<Rec>& table) {
  if (!file.save(std::as_bytes(std::span(table)))) say_not_saved();
}

template <class Rec>
void load_table(const DataFile& file, Table<Rec>& table) {
  file.load(std::as_writable_bytes(std::span(table)));
}

// The same through the table's stream, which merges in another session's saves.
template <class Rec>
void save_table(TableFile<Rec>& file, Table<Rec>& table) {
  if (!file.save(table)) say_not_saved();
}

template <class Rec>
void load_table(TableFile<Rec>& file, Table<Rec>& table) {
  file.load(table);
}

// The slot the next add fills: 499 less the add counter in slot 1's total.
// A negative counter adds nothing, silently; a full table says so.
template <class Rec>
std::optional<int> add_slot(const Table<Rec>& table) {
  int64_t slot = int64_t{kSlots - 1} - table[1].total;
  if (slot > kSlots - 1) return std::nullopt;
  if (slot < 0) {
    con().text("\n**Table Full**\n");
    con().pause();
    return std::nullopt;
  }
  return static_cast<int>(slot);
}

// Steps the add counter on by slot 2's num plus one, wrapping as the stored
// 32-bit field does, and gives the new value: the record's running number.
template <class Rec>
int32_t advance_counter(Table<Rec>& table) {
  uint32_t next = static_cast<uint32_t>(table[1].total) + static_cast<uint32_t>(table[2].num) + 1u;
  table[1].total = static_cast<int32_t>(next);
  return table[1].total;
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

}  // namespace orvel

namespace orvel {

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

}  // namespace orvel
