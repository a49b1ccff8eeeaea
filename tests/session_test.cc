// Whole sessions of the program through a pipe: all three menus in one run, and a failed save.
#include <gtest/gtest.h>

#include <filesystem>

#include "tests/kind_screens.h"
#include "tests/process.h"

namespace orvel {
namespace {

using namespace screens;
using testkit::Image;
using testkit::TempDir;
using testkit::transcript;

// Adds, finds, lists and updates in each menu in turn, then quits.
TEST(Session, EveryMenuInOneRun) {
  const CustomerText customer{"Smith",  "John Paul", "MR",     "12",   "1 High St", "Old Town",
                              "London", "AB1 2C",    "1/1/80", "0123", "7/12/26"};
  CustomerText customer_after = customer;
  customer_after.tel_no = "0999";
  const WebText web{"7",   "a@b.c", "My Page", "www.x.com/a b", "1/1",
                    "2/2", "150",   "N",       "nice page"};
  WebText web_after = web;
  web_after.cost_shown = "175";
  const FriendText fr{"3",      "Doe",  "Jane Ann", "j@d.e",  "www.d.e", "4 Elm Rd",
                      "Leaves", "Bath", "BA1 1A",   "2/2/90", "0222",    "0777"};
  FriendText fr_after = fr;
  fr_after.mob_no = "0888";

  // One row per step: what is typed, and what the step shows after it.
  // clang-format off
  std::string input = "1\n1\n" + customer.typed() +
                      "2\n1\n12\n3\n"
                      "4\n12\n2\n0999\n3\n"
                      "3\n5\n"
                      "2\n1\n" + web.typed() +
                      "2\n2\na@b.c\n3\n"
                      "4\n7\n4\n25\n7\n"
                      "3\n5\n"
                      "3\n1\n" + fr.typed() +
                      "2\n2\nJane Ann\n3\n"
                      "4\n3\n5\n0888\n6\n"
                      "3\n5\n4\n1\n";
  std::string expected = dialogue({
      kMainMenu, kCustomerMenu, customer_add(1),
      kCustomerMenu, kFindCustomerMenu, kAskCustomerId, customer.shown(), "\n", kFindCustomerMenu,
      kCustomerMenu, kAskCustomerId, kUpdateCustomerMenu, kAskNewTelephone, "\n", kUpdateCustomerMenu,
      kCustomerMenu, customer_after.listed(), kCustomerMenu,
      kMainMenu, kWebMenu, web_add(1),
      kWebMenu, kFindWebMenu, kAskEmail, web.shown(), "\n", kFindWebMenu,
      kWebMenu, kAskUpdateWebNo, kUpdateWebMenu, kAskAddCost, "\n", kUpdateWebMenu,
      kWebMenu, web_after.listed(), kWebMenu,
      kMainMenu, kRehberMenu, friend_add(1),
      kRehberMenu, kFindFriendMenu, kAskFriendName, fr.shown(), "\n", kFindFriendMenu,
      kRehberMenu, kAskFriendId, kUpdateFriendMenu, kAskNewMobile, "\n", kUpdateFriendMenu,
      kRehberMenu, fr_after.listed(), kRehberMenu,
      leave_and_quit(),
  });
  // clang-format on
  TempDir dir;
  EXPECT_EQ(transcript(dir, input), expected);

  Image<Customer> customers;
  customers[499] = customer_after.record();
  customers.counter(1);
  EXPECT_EQ(customers.difference(dir.read("customer.dat")), "");
  Image<Web> webs;
  webs[499] = web_after.record(175);
  webs.counter(1);
  EXPECT_EQ(webs.difference(dir.read("web.dat")), "");
  Image<Friend> friends;
  friends[499] = fr_after.record();
  friends.counter(1);
  EXPECT_EQ(friends.difference(dir.read("friend.dat")), "");
}

TEST(Session, AFailedSaveSaysSoAndKeepsNothingBehind) {
  TempDir dir;
  std::filesystem::create_directory(dir.file("customer.dat"));  // a directory of the file's name
  EXPECT_EQ(transcript(dir, "1\n5\n4\n1\n"),
            dialogue({kMainMenu, kCustomerMenu, kNotSaved, leave_and_quit()}));
  EXPECT_TRUE(std::filesystem::is_directory(dir.file("customer.dat")));
  auto entries = std::filesystem::directory_iterator(dir.path());
  EXPECT_EQ(std::distance(begin(entries), end(entries)), 1);
}

}  // namespace
}  // namespace orvel
