// The fields this session wrote in each table since the table's base.
#include "records/written.h"

#include <algorithm>
#include <cstdint>
#include <type_traits>

namespace orvel {

template <class Rec>
void Written<Rec>::mark(size_t from, size_t width) {
  const std::span<const RecordField> fields = fields_of<Rec>();
  const size_t end = std::min(from + width, sizeof(Rec) * kSlots);
  for (size_t byte = from; byte < end;) {
    const size_t slot = byte / sizeof(Rec), in_record = byte % sizeof(Rec);
    // The field holding this byte: the last one starting at or before it.
    auto f = std::upper_bound(fields.begin(), fields.end(), in_record,
                              [](size_t b, const RecordField& x) { return b < x.offset; }) -
             1;
    bits_[slot * kPerSlot + static_cast<size_t>(f - fields.begin())] = true;
    byte += f->offset + f->width - in_record;
  }
}

template class Written<Customer>;
template class Written<Web>;
template class Written<Friend>;

namespace {

// The marks of each table, made at the first mark or look.
template <class Rec>
Written<Rec>& marks_of() {
  static Written<Rec> marks;
  return marks;
}

template <class Rec>
const Rec* table_of() {
  if constexpr (std::is_same_v<Rec, Customer>) {
    return namelist;
  } else if constexpr (std::is_same_v<Rec, Web>) {
    return weblist;
  } else {
    return friendlist;
  }
}

// Addresses compared as numbers: the bytes may belong to no table at all.
template <class Rec>
bool mark_in_table(uintptr_t at, size_t width) {
  const uintptr_t begin = reinterpret_cast<uintptr_t>(table_of<Rec>());
  if (at < begin || at - begin >= sizeof(Rec) * kSlots) return false;
  marks_of<Rec>().mark(at - begin, width);
  return true;
}

}  // namespace

void mark_written(const void* at, size_t width) {
  const uintptr_t a = reinterpret_cast<uintptr_t>(at);
  mark_in_table<Customer>(a, width) || mark_in_table<Web>(a, width) ||
      mark_in_table<Friend>(a, width);
}

template <class Rec>
const Written<Rec>& written_in(std::span<const Rec, kSlots> table) {
  static const Written<Rec> none;  // never marked
  return table.data() == table_of<Rec>() ? marks_of<Rec>() : none;
}

template <class Rec>
void clear_written(std::span<const Rec, kSlots> table, std::optional<int> slot) {
  if (table.data() != table_of<Rec>()) return;
  if (slot) {
    marks_of<Rec>().clear_slot(*slot);
  } else {
    marks_of<Rec>().clear();
  }
}

template const Written<Customer>& written_in(std::span<const Customer, kSlots>);
template const Written<Web>& written_in(std::span<const Web, kSlots>);
template const Written<Friend>& written_in(std::span<const Friend, kSlots>);
template void clear_written(std::span<const Customer, kSlots>, std::optional<int>);
template void clear_written(std::span<const Web, kSlots>, std::optional<int>);
template void clear_written(std::span<const Friend, kSlots>, std::optional<int>);

}  // namespace orvel
