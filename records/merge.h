// Two sessions' saves of one table made one: field by field, with adds and costs counted.
#pragma once

#include <span>

#include "records/records.h"

namespace orvel {

template <class Rec>
using Slots = std::span<const Rec, kSlots>;

// The table to save when another session saved the file since this session's
// base. base: the table as this session last loaded or saved it; mine: this
// session's table now; theirs: the file now, laid over base as a load lays it.
// A field this session changed takes its value, any other field the file's;
// this session's adds move to the slots the file's counter gives them, and a
// web page's cost gets this session's amount added to the file's. False when
// an add finds no slot inside the table; `out` is then unspecified.
template <class Rec>
bool merge(Slots<Rec> base, Slots<Rec> mine, Slots<Rec> theirs, std::span<Rec, kSlots> out);

}  // namespace orvel
