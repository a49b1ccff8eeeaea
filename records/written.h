// The fields this session wrote in each table since the table's base (its last load or
// save): the merge takes such a field as this session's change even where it holds the
// base's value again.
#pragma once

#include <bitset>
#include <cstddef>
#include <optional>
#include <span>

#include "records/records.h"

namespace orvel {

// A bit per field of every slot of one table: under a kilobyte, whether or
// not the table is ever loaded.
template <class Rec>
class Written {
 public:
  // Whether the field at `field` in fields_of<Rec>() of `slot` was written.
  bool has(int slot, size_t field) const { return bits_[size_t(slot) * kPerSlot + field]; }
  // Marks every field that the bytes [from, from + width) of the table touch.
  void mark(size_t from, size_t width);
  void clear() { bits_.reset(); }
  void clear_slot(int slot) {
    for (size_t f = 0; f < kPerSlot; ++f) bits_[size_t(slot) * kPerSlot + f] = false;
  }

 private:
  static constexpr size_t kPerSlot = fields_of<Rec>().size();
  std::bitset<kSlots * kPerSlot> bits_;
};

// Marks what `width` bytes at `at` cover as written, where they lie in one of
// the three tables; bytes elsewhere (a search key, a working value) mark nothing.
void mark_written(const void* at, size_t width);

// The marks of `table`: its own where it is one of the three tables, else none.
template <class Rec>
const Written<Rec>& written_in(std::span<const Rec, kSlots> table);

// Clears the marks of `table`, as its load or save makes it the base again;
// or those of one slot only.
template <class Rec>
void clear_written(std::span<const Rec, kSlots> table, std::optional<int> slot = std::nullopt);

}  // namespace orvel
