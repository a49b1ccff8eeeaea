// The Rehber address book: add, find by number or first name, list, update friends.
// Every text is the system's own, byte for byte, as users have always seen it:
// "IDENTIDY", "TELEPHON", "Thelepone" and "Bith" included, trailing blanks too.
#include "rehber/reh.h"

#include "console/console.h"
#include "dialogue/address.h"
#include "dialogue/menu.h"
#include "dialogue/prompts.h"
#include "dialogue/table_dialogue.h"

namespace orvel {

namespace {

void show_listed(const Friend& r) {
  con().text({"\n_____________________________________________________________________",
              "\n No : ", field(r.f_no), "\t", field(r.fname), " ", field(r.surname),
              "\n Dob: ", field(r.dob), "\tEmail: ", field(r.email), "\n Url: ", field(r.url)});
  show_address(r);
  con().text({"\n Tel No  : ", field(r.tel_no), "\t Mobile: ", field(r.mob_no)});
}

}  // namespace

void Reh::save_fri() { save_table(f, friendlist); }

void Reh::load_fri() { load_table(f, friendlist); }

void Reh::add_fri() {
  std::optional<int> c = add_slot(friendlist);
  if (!c) return;
  Friend& r = friendlist[*c];
  con().text("\n\n\tPLEASE ENTER FRIEND\n");
  int32_t number = advance_counter(friendlist);
  con().text("\n ID No: ");
  con().integer(number);
  ask_word("\n IDENTIDY NO: ", r.f_no);
  ask_word("\n SURNAME: ", r.surname);
  ask_line("\n FIRST NAME(S): ", r.fname);
  ask_word("\n E-MAIL: ", r.email);
  ask_word("\n URL: ", r.url);
  ask_address(r);
  ask_word("\n MOBILE NO: ", r.mob_no);
  save_fri();
}

int Reh::display_fri(int c) {
  const Friend& r = friendlist[c];
  con().text({"\n No : ", field(r.f_no), "\n", field(r.fname), " ", field(r.surname),
              "\n Date of Bith: ", field(r.dob), "\n Email: ", field(r.email),
              "\n Url: ", field(r.url)});
  show_address(r);
  con().text({"\n Tel No  : ", field(r.tel_no), "\n Mobile: ", field(r.mob_no)});
  return c;
}

void Reh::find_fri() {
  char fno[4] = {};
  char f_name[20] = {};
  auto show = [this](int slot) { display_fri(slot); };
  run_framed_menu("\n\t\t   FIND FRIEND RECORD ",
                  {"\n\t\t 1. Search by FRIEND ID", "\n\t\t 2. Search by FRIEND NAME",
                   "\n\t\t 3. Return FRIEND Menu"},
                  {},
                  {{'1',
                    [&] {
                      ask_value("\n Enter FRIEND ID: ", fno);
                      search(
                          friendlist, [&](const Friend& r) { return text_equal(r.f_no, fno); },
                          show, kNotFount);
                    }},
                   {'2',
                    [&] {
                      ask_line("\n\n Enter friend Name: ", f_name);
                      search(
                          friendlist, [&](const Friend& r) { return text_equal(r.fname, f_name); },
                          show, kNotFount);
                    }},
                   {'3', {}, true}});
}

void Reh::display_all_fri() { list_all(friendlist, show_listed); }

void Reh::update_fri() {
  char fno[5] = {};
  NewAddress new_address;
  char new_email[30] = {}, new_url[50] = {}, new_tel_no[20] = {}, new_mob_no[20] = {};
  ask_value("\n Enter FRIEND ID: ", fno);
  // An option: every friend with the number changed in turn; the save comes
  // with the next pass of the menu.
  auto matches = [&](const Friend& r) { return text_equal(r.f_no, fno); };
  auto change_each = [&](std::function<void(Friend&)> change) {
    return change_every_holder<Friend>(friendlist, matches, std::move(change));
  };
  // Every pass saves first, so all changes are on disk when '6' leaves.
  run_framed_menu(
      "\n\t\t     UPDATE FRIEND ",
      {"\n\t\t 1. Address", "\n\t\t 2. Email  ", "\n\t\t 3. Url", "\n\t\t 4. Thelepone Number",
       "\n\t\t 5. Mobile Number", "\n\t\t 6. FRIENDS Menu"},
      [this] { save_fri(); },
      {{'1', change_each([&](Friend& r) { new_address.ask_into(r); })},
       {'2',
        change_each([&](Friend& r) { ask_new_value("\n Enter New EMAIL: ", new_email, r.email); })},
       {'3', change_each([&](Friend& r) { ask_new_value("\n Enter New URL: ", new_url, r.url); })},
       {'4', change_each([&](Friend& r) {
          ask_new_value("\n Enter New TELEPHONE NUMBER: ", new_tel_no, r.tel_no);
        })},
       {'5', change_each([&](Friend& r) {
          ask_new_value("\n Enter New MOBILE NUMBER: ", new_mob_no, r.mob_no);
        })},
       {'6', {}, true}});
}

}  // namespace orvel
