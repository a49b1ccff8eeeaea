// Two sessions' saves of one table made one: field by field, with adds and costs counted.
#pragma once

#include <optional>
#include <span>
#include <vector>

#include "records/records.h"
#include "records/written.h"

namespace orvel {

template <class Rec>
using Slots = std::span<const Rec, kSlots>;

// The table to save when another session saved the file since this session's
// base. base: the table as this session last loaded or saved it; mine: this
// session's table now; theirs: the file now, laid over base as a load lays it;
// written: the fields this session wrote since base. A field this session
// changed or wrote takes its value (a value typed again over another session's
// change is a change too), any other field the file's;
// this session's adds move to the slots the file's counter gives them, and a
// web page's cost gets this session's amount added to the file's. False when
// an add finds no slot inside the table; `out` is then unspecified.
// The slots this session's adds since `base` filled in `mine`, in the order
// they were made; nullopt where one lies outside the table. An add moves whole,
// by the counter, never field by field.
template <class Rec>
std::optional<std::vector<int>> add_slots(Slots<Rec> base, Slots<Rec> mine);

template <class Rec>
bool merge(Slots<Rec> base, Slots<Rec> mine, Slots<Rec> theirs, const Written<Rec>& written,
           std::span<Rec, kSlots> out);

}  // namespace orvel
