// For tests only: a save calls this, when set, between its temporary's last
// write and the rename, so a test can stop or kill it exactly there.
#pragma once

namespace orvel {

extern void (*before_rename_for_test)();

}  // namespace orvel
