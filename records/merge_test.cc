// The merge of two sessions' tables over three images: the base, this session's, the file's.
#include "records/merge.h"

#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <vector>

#include "tests/kit.h"

namespace orvel {
namespace {

using testkit::put;

template <class Rec>
using Images = std::vector<Rec>;

template <class Rec>
std::span<Rec, kSlots> slots(Images<Rec>& image) {
  return std::span<Rec, kSlots>(image.data(), kSlots);
}

Customer customer(const char* cust_no, const char* surname, const char* street, const char* tel) {
  Customer r{};
  put(r.cust_no, cust_no), put(r.surname, surname), put(r.street, street), put(r.tel_no, tel);
  return r;
}

// A record added by hand: its text in the slot, the counter stepped on by
// slot 2's num plus one.
void add(Images<Customer>& image, const Customer& r) {
  Customer& slot = image[kSlots - 1 - image[1].total];
  int32_t total = slot.total, num = slot.num;
  slot = r;
  slot.total = total, slot.num = num;
  image[1].total += image[2].num + 1;
}

// Marks the field at `offset` of `slot` written, as a prompt writing it would.
template <class Rec>
void mark(Written<Rec>& written, int slot, size_t offset) {
  written.mark(slot * sizeof(Rec) + offset, 1);
}

const Customer kSmith = customer("12", "Smith", "1 High St", "0123");
const Customer kJones = customer("20", "Jones", "3 Mill La", "0456");
const Customer kBrown = customer("30", "Brown", "5 Park Rd", "0789");
const Customer kGreen = customer("40", "Green", "7 Vale Cl", "0246");

TEST(Merge, CustomersFieldByFieldWithAddsCounted) {
  using Edit = std::function<void(Images<Customer>&)>;
  const struct {
    const char* what;
    Edit mine, theirs, expected;  // each applied to the base
    bool merges = true;
    int32_t num = 0;           // the base's step less one
    bool tel_written = false;  // this session typed slot 499's telephone
  } cases[] = {
      {"nothing changed", {}, {}, {}},
      {"each side a different field of one record", [](auto& t) { put(t[499].tel_no, "0999"); },
       [](auto& t) { put(t[499].street, "2 Low Rd"); },
       [](auto& t) { put(t[499].tel_no, "0999"), put(t[499].street, "2 Low Rd"); }},
      {"the same field on both: this session's value", [](auto& t) { put(t[499].tel_no, "0999"); },
       [](auto& t) { put(t[499].tel_no, "0777777"); }, [](auto& t) { put(t[499].tel_no, "0999"); }},
      {"a field is compared and taken whole, bytes after its NUL too",
       [](auto& t) { t[499].tel_no[6] = 'x'; }, [](auto& t) { put(t[499].tel_no, "0777"); },
       [](auto& t) { t[499].tel_no[6] = 'x'; }},
      {"two adds: the file's stays, this one goes one slot down", [](auto& t) { add(t, kJones); },
       [](auto& t) { add(t, kBrown); }, [](auto& t) { add(t, kBrown), add(t, kJones); }},
      {"two adds here, one there, in their order", [](auto& t) { add(t, kJones), add(t, kGreen); },
       [](auto& t) { add(t, kBrown); },
       [](auto& t) { add(t, kBrown), add(t, kJones), add(t, kGreen); }},
      {"an add with a change there", [](auto& t) { add(t, kJones); },
       [](auto& t) { put(t[499].street, "2 Low Rd"); },
       [](auto& t) { add(t, kJones), put(t[499].street, "2 Low Rd"); }},
      {"an add whose slot is past the file's full table",
       [](auto& t) { add(t, kJones); },
       [](auto& t) { t[1].total = 500; },
       {},
       false},
      {"two adds with a step of five: this one five slots below the file's",
       [](auto& t) { add(t, kJones); }, [](auto& t) { add(t, kBrown); },
       [](auto& t) { add(t, kBrown), add(t, kJones); }, true, 4},
      {"the file's own step places this session's add and steps the counter",
       [](auto& t) { add(t, kJones); }, [](auto& t) { t[2].num = 4, add(t, kBrown); },
       [](auto& t) { t[2].num = 4, add(t, kBrown), add(t, kJones); }},
      {"a field typed again at its base value over the file's change: this session's",
       {},
       [](auto& t) { put(t[499].tel_no, "0777"); },
       {},
       true,
       0,
       true},
      {"a field neither typed nor changed here: the file's",
       {},
       [](auto& t) { put(t[499].tel_no, "0777"); },
       [](auto& t) { put(t[499].tel_no, "0777"); }},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    Images<Customer> base(kSlots);
    base[2].num = c.num;
    add(base, kSmith);
    Images<Customer> mine = base, theirs = base, expected = base, out(kSlots);
    if (c.mine) c.mine(mine);
    if (c.theirs) c.theirs(theirs);
    if (c.expected) c.expected(expected);
    Written<Customer> written;
    if (c.tel_written) mark(written, 499, offsetof(Customer, tel_no));
    ASSERT_EQ(merge<Customer>(slots(base), slots(mine), slots(theirs), written, slots(out)),
              c.merges);
    if (!c.merges) continue;
    EXPECT_EQ(memcmp(out.data(), expected.data(), sizeof(Customer) * kSlots), 0);
  }
}

// A web page's cost takes both amounts; where only one side changed it, that
// side's value exactly.
TEST(Merge, CostAmountsAddUp) {
  const struct {
    float base, mine, theirs, merged;
    bool written = true;  // this session's update set the cost
  } cases[] = {
      {150, 175, 160, 185},  // +25 here, +10 there
      {150, 125, 160, 135},  // -25 here, +10 there
      {150, 175, 150, 175}, {150, 150, 160, 160, false},
      {150, 150, 160, 160},  // +25 and -25 here: nothing to add to the file's
      {1e8f, 1, 1e8f, 1},    // 1e8 + (1 - 1e8) would be 0 in single precision
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::Message() << c.base << " " << c.mine << " " << c.theirs);
    Images<Web> base(kSlots), out(kSlots);
    put(base[499].web_no, "7");
    base[499].cost = c.base;
    Images<Web> mine = base, theirs = base;
    mine[499].cost = c.mine;
    theirs[499].cost = c.theirs;
    Written<Web> written;
    if (c.written) mark(written, 499, offsetof(Web, cost));
    ASSERT_TRUE(merge<Web>(slots(base), slots(mine), slots(theirs), written, slots(out)));
    EXPECT_EQ(out[499].cost, c.merged);
  }
}

// An add goes to 499 less the file's counter, stepped by the file's step;
// where that is outside 0..499 the merge fails and writes nothing outside
// `out` (guard records on both sides of it).
TEST(Merge, AddsOutsideTheTableFail) {
  const struct {
    const char* what;
    int32_t counter, num;  // the file's
    int adds;              // this session's, from an empty base
    bool merges;
    int last_slot;  // where the last add lands, when it merges
  } cases[] = {
      {"counter 0: slot 499", 0, 0, 1, true, 499},
      {"counter 499: slot 0", 499, 0, 1, true, 0},
      {"counter 500: slot -1", 500, 0, 1, false, 0},
      {"counter -1: slot 500", -1, 0, 1, false, 0},
      {"a step of -1 from 0: the second add at slot 500", 0, -2, 2, false, 0},
      {"a step of -1 from 499: the second add at slot 1", 499, -2, 2, true, 1},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    Images<Customer> base(kSlots), mine(kSlots), theirs(kSlots);
    for (int i = 0; i < c.adds; ++i) add(mine, i + 1 < c.adds ? kBrown : kJones);
    theirs[1].total = c.counter, theirs[2].num = c.num;
    Customer guard;
    memset(&guard, 0x5a, sizeof guard);
    Images<Customer> guarded(kSlots + 2, guard);
    std::span<Customer, kSlots> out(guarded.data() + 1, kSlots);
    ASSERT_EQ(merge<Customer>(slots(base), slots(mine), slots(theirs), Written<Customer>{}, out),
              c.merges);
    EXPECT_EQ(memcmp(&guarded.front(), &guard, sizeof guard), 0);
    EXPECT_EQ(memcmp(&guarded.back(), &guard, sizeof guard), 0);
    if (c.merges) {
      EXPECT_STREQ(out[c.last_slot].cust_no, "20");
    }
  }
}

}  // namespace
}  // namespace orvel
