// The libFuzzer entry points: every input is one whole run of the program.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "fuzz/dialogue_harness.h"

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  orvel::enter_scratch_dir();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string problem = orvel::run_dialogue(data, size);
  if (!problem.empty()) {
    fprintf(stderr, "dialogue: %s\n", problem.c_str());
    abort();
  }
  return 0;
}
