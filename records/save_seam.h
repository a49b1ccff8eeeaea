// For tests only: a save calls these, when set, so a test can stop or kill it
// exactly there: between its temporary's last write and the rename, and after
// each write of an in-place save.
#pragma once

namespace orvel {

extern void (*before_rename_for_test)();
extern void (*after_write_in_place_for_test)();

}  // namespace orvel
