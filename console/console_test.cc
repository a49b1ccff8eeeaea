// The input model and the number input and output, driven from memory.
#include "console/console.h"

#include <gtest/gtest.h>

#include "console/memory_device.h"

namespace orvel {
namespace {

TEST(NumberOutput, Smoke) { EXPECT_EQ(format_number(12.5f), "12.5"); }

}  // namespace
}  // namespace orvel
