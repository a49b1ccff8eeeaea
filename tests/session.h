// One session of orvel through a pipe, for the tests of each kind of record.
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <string_view>

#include "tests/process.h"

namespace orvel::testkit {

// Runs orvel in the directory with the whole input and gives its transcript,
// checking that it ended by itself with status 0.
inline std::string transcript(const TempDir& dir, std::string_view input) {
  RunResult r = run_orvel(dir.path(), input);
  EXPECT_TRUE(r.exited_with(0)) << "status " << r.exit_status << " signal " << r.signal
                                << (r.timed_out ? " (timed out)" : "");
  return r.output;
}

}  // namespace orvel::testkit
