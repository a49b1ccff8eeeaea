// The check command: the three data files looked over under the shared lock, never written.
#pragma once

namespace orvel {

// Reports on each data file on standard output: 0 when all are sound, 1 when
// something is not (or the report could not be written).
int run_check();

}  // namespace orvel
