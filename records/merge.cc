// Two sessions' saves of one table made one: field by field, with adds and costs counted.
#include "records/merge.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <optional>
#include <vector>

namespace orvel {

namespace {

template <class Rec>
const std::byte* at(const Rec& r, const RecordField& f) {
  return reinterpret_cast<const std::byte*>(&r) + f.offset;
}

template <class Rec>
bool same(const Rec& a, const Rec& b, const RecordField& f) {
  return memcmp(at(a, f), at(b, f), f.width) == 0;
}

template <class Rec>
void copy_field(Rec& to, const Rec& from, const RecordField& f) {
  memcpy(reinterpret_cast<std::byte*>(&to) + f.offset, at(from, f), f.width);
}

template <class Rec>
float cost_of(const Rec& r, const RecordField& f) {
  float cost;
  memcpy(&cost, at(r, f), sizeof cost);
  return cost;
}

// `out` holds the file's field. A field this session wrote is its change even
// at the base's value; else compared bitwise, so a cost of -0 or NaN set here
// counts as a change.
template <class Rec>
void merge_field(const Rec& base, const Rec& mine, Rec& out, const RecordField& f, bool written) {
  if (!written && same(mine, base, f)) return;
  if (f.kind == FieldKind::kCost && !same(out, base, f)) {
    // Both changed the cost: the amount added (or taken away) here goes on top
    // of the file's, in the single precision the update uses; none where this
    // session's updates came back to the base's cost.
    float sum = cost_of(out, f) + (cost_of(mine, f) - cost_of(base, f));
    memcpy(reinterpret_cast<std::byte*>(&out) + f.offset, &sum, sizeof sum);
    return;
  }
  copy_field(out, mine, f);
}

// The counter after `steps` adds of step d, wrapping as the stored field does.
int32_t advanced(int32_t counter, uint32_t d, uint32_t steps) {
  return static_cast<int32_t>(static_cast<uint32_t>(counter) + steps * d);
}

// The slot an add takes at this counter, when it is inside the table.
std::optional<int> slot_at(int32_t counter) {
  int64_t slot = int64_t{kSlots - 1} - counter;
  if (slot < 0 || slot > kSlots - 1) return std::nullopt;
  return static_cast<int>(slot);
}

// How many adds took the counter from b to m, d at a time; 0 when no small
// count does (then the counter is an ordinary field).
uint32_t adds_between(int32_t b, int32_t m, uint32_t d) {
  for (uint32_t k = 1; k <= kSlots; ++k) {
    if (advanced(b, d, k) == m) return k;
  }
  return 0;
}

template <class Rec>
uint32_t step_of(Slots<Rec> table) {
  return static_cast<uint32_t>(table[2].num) + 1u;
}

}  // namespace

template <class Rec>
std::optional<std::vector<int>> add_slots(Slots<Rec> base, Slots<Rec> mine) {
  const int32_t b = base[1].total;
  const uint32_t d = step_of(base);
  const uint32_t k = mine[1].total == b ? 0 : adds_between(b, mine[1].total, d);
  std::vector<int> slots;
  for (uint32_t i = 0; i < k; ++i) {
    std::optional<int> from = slot_at(advanced(b, d, i));
    if (!from) return std::nullopt;
    slots.push_back(*from);
  }
  return slots;
}

template <class Rec>
bool merge(Slots<Rec> base, Slots<Rec> mine, Slots<Rec> theirs, const Written<Rec>& written,
           std::span<Rec, kSlots> out) {
  std::copy(theirs.begin(), theirs.end(), out.begin());
  const std::optional<std::vector<int>> adds = add_slots(base, mine);
  if (!adds) return false;

  // The slots this session added to keep the file's content: another
  // session's add may sit there now.
  bool added[kSlots] = {};
  for (int slot : *adds) added[slot] = true;
  for (int slot = 0; slot < kSlots; ++slot) {
    if (added[slot]) continue;
    const std::span<const RecordField> fields = fields_of<Rec>();
    for (size_t i = 0; i < fields.size(); ++i) {
      merge_field(base[slot], mine[slot], out[slot], fields[i], written.has(slot, i));
    }
  }
  if (adds->empty()) return true;

  // Each add moves whole to the slot the add rule gives on the file's counter;
  // its slot's own total and num stay.
  const int32_t t = theirs[1].total;
  const uint32_t their_d = step_of(theirs);
  for (size_t i = 0; i < adds->size(); ++i) {
    std::optional<int> to = slot_at(advanced(t, their_d, static_cast<uint32_t>(i)));
    if (!to) return false;
    const Rec& record = mine[(*adds)[i]];
    for (const RecordField& f : fields_of<Rec>()) {
      if (f.kind != FieldKind::kInt) copy_field(out[*to], record, f);
    }
  }
  out[1].total = advanced(t, their_d, static_cast<uint32_t>(adds->size()));
  return true;
}

template std::optional<std::vector<int>> add_slots<Customer>(Slots<Customer>, Slots<Customer>);
template std::optional<std::vector<int>> add_slots<Web>(Slots<Web>, Slots<Web>);
template std::optional<std::vector<int>> add_slots<Friend>(Slots<Friend>, Slots<Friend>);
template bool merge<Customer>(Slots<Customer>, Slots<Customer>, Slots<Customer>,
                              const Written<Customer>&, std::span<Customer, kSlots>);
template bool merge<Web>(Slots<Web>, Slots<Web>, Slots<Web>, const Written<Web>&,
                         std::span<Web, kSlots>);
template bool merge<Friend>(Slots<Friend>, Slots<Friend>, Slots<Friend>, const Written<Friend>&,
                            std::span<Friend, kSlots>);

}  // namespace orvel
