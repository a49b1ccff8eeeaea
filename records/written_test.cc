// The written marks: which fields of which table a write's bytes touch.
#include "records/written.h"

#include <gtest/gtest.h>

#include <utility>
#include <vector>

namespace orvel {
namespace {

using Marks = std::vector<std::pair<int, size_t>>;  // slot, field's place in its list

Marks marked(const Written<Customer>& written) {
  Marks marks;
  for (int slot = 0; slot < kSlots; ++slot) {
    for (size_t f = 0; f < fields_of<Customer>().size(); ++f) {
      if (written.has(slot, f)) marks.emplace_back(slot, f);
    }
  }
  return marks;
}

const char* in(int slot, size_t offset) {
  return reinterpret_cast<const char*>(&namelist[slot]) + offset;
}

TEST(Written, AWriteMarksTheFieldsOfTheTableItsBytesTouch) {
  char key[5] = {};
  const struct {
    const char* what;
    const char* at;
    size_t width;
    Marks marks;
  } cases[] = {
      {"a whole field", in(3, offsetof(Customer, tel_no)), 20, {{3, 9}}},
      {"across two fields", in(3, offsetof(Customer, town) + 24), 2, {{3, 5}, {3, 6}}},
      {"into the next slot", in(3, offsetof(Customer, num)), 5, {{3, 12}, {4, 0}}},
      {"the table's last byte", in(499, sizeof(Customer) - 1), 1, {{499, 12}}},
      {"a working value beside the tables", key, sizeof key, {}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    clear_written<Customer>(namelist);
    mark_written(c.at, c.width);
    EXPECT_EQ(marked(written_in<Customer>(namelist)), c.marks);
  }
  // Another table of customers, as a test's, has no marks of its own.
  mark_written(namelist[7].fname, 1);
  std::vector<Customer> other(kSlots);
  EXPECT_EQ(marked(written_in<Customer>(std::span<const Customer, kSlots>(other.data(), kSlots))),
            Marks{});
}

}  // namespace
}  // namespace orvel
