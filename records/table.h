// What every table does the same way: the add slot and the add counter.
#pragma once

#include <cstdint>

#include "records/records.h"

namespace orvel {

template <class Rec>
using Table = Rec[kSlots];

// The slot the next add fills: 499 less the add counter in slot 1's total.
// Outside 0..499 when the counter is negative or the table is full.
template <class Rec>
int64_t next_add_slot(const Table<Rec>& table) {
  return int64_t{kSlots - 1} - table[1].total;
}

// Steps the add counter on by slot 2's num plus one, wrapping as the stored
// 32-bit field does, and gives the new value: the record's running number.
template <class Rec>
int32_t advance_counter(Table<Rec>& table) {
  uint32_t next = static_cast<uint32_t>(table[1].total) + static_cast<uint32_t>(table[2].num) + 1u;
  table[1].total = static_cast<int32_t>(next);
  return table[1].total;
}

}  // namespace orvel
