// The three tables.
#include "records/records.h"

namespace orvel {

Customer namelist[kSlots];
Web weblist[kSlots];
Friend friendlist[kSlots];

}  // namespace orvel
