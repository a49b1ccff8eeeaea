// Customers: add, find by identity number or post code, list, update.
// Every text is the system's own, byte for byte, as users have always seen it:
// "IDENTIDY", "TELEPHON", "Thelepone" and "Bith" included, trailing blanks too.
#include "customer/cust.h"

#include "console/console.h"
#include "dialogue/address.h"
#include "dialogue/menu.h"
#include "dialogue/prompts.h"
#include "dialogue/table_dialogue.h"

namespace orvel {

namespace {

void show_listed(const Customer& r) {
  con().text({"\n_____________________________________________________________________",
              "\n Cust No : ", field(r.cust_no), "\t Customer: ", field(r.cust_title), " ",
              field(r.fname), " ", field(r.surname)});
  show_address(r);
  con().text({"\n Tel No  : ", field(r.tel_no), "\t Reg Date: ", field(r.r_date),
              "\n Date of Bith: ", field(r.dob)});
}

}  // namespace

void Cust::save_cust() { save_table(f, namelist); }

void Cust::load_cust() { load_table(f, namelist); }

void Cust::add_cust() {
  std::optional<int> slot = add_slot(namelist);
  if (!slot) return;
  Customer& r = namelist[*slot];
  con().text("\n\n\tPLEASE ENTER CUSTOMER\n");
  ask_word("\n SURNAME: ", r.surname);
  ask_line("\n FIRST NAME(S): ", r.fname);
  ask_word("\n TITLE (MR/MISS/MS): ", r.cust_title);
  int32_t number = advance_counter(namelist);
  con().text("\n ID No: ");
  con().integer(number);
  ask_word("\n IDENTIDY NO: ", r.cust_no);
  ask_address(r);
  show_today();
  ask_word("\n TODAY DATE: ", r.r_date);
  save_cust();
}

int Cust::display_cust(int c) {
  const Customer& r = namelist[c];
  con().text({"\n Cust No : ", field(r.cust_no), "\n Customer: ", field(r.cust_title), " ",
              field(r.fname), " ", field(r.surname)});
  show_address(r);
  con().text({"\n Date of Bith: ", field(r.dob), "\n Tel No  : ", field(r.tel_no),
              "\n Reg Date: ", field(r.r_date)});
  return c;
}

void Cust::find_cust() {
  char c_no[5] = {};
  char po_code[7] = {};
  auto show = [this](int slot) { display_cust(slot); };
  run_framed_menu("\n\t\t   FIND CUSTOMER RECORD ",
                  {"\n\t\t 1. Search by CUSTOMER ID", "\n\t\t 2. Search by POST CODE",
                   "\n\t\t 3. Return CUSTOMER Menu"},
                  {},
                  {{'1',
                    [&] {
                      ask_line("\n Enter CUSTOMER ID: ", c_no);
                      search(
                          namelist, [&](const Customer& r) { return text_equal(r.cust_no, c_no); },
                          show, kNotFount);
                    }},
                   {'2',
                    [&] {
                      ask_line("\n\n Enter post code: ", po_code);
                      search(
                          namelist,
                          [&](const Customer& r) { return text_equal(r.p_code, po_code); }, show,
                          kNotFount);
                    }},
                   {'3', {}, true}});
}

void Cust::display_all_cust() { list_all(namelist, show_listed); }

void Cust::update_cust() {
  char c_no[5] = {};
  NewAddress new_address;
  char new_tel_no[20] = {};
  ask_value("\n Enter CUSTOMER ID: ", c_no);
  auto matches = [&](const Customer& r) { return text_equal(r.cust_no, c_no); };
  auto save = [this] { save_cust(); };
  run_framed_menu(
      "\n\t\t     UPDATE CUSTOMER ", {"\n\t\t 1. Address", "\n\t\t 2. Thelepone Number"}, {},
      {{'1', change_every_holder<Customer>(
                 namelist, matches, [&](Customer& r) { new_address.ask_into(r); }, save)},
       {'2', change_every_holder<Customer>(
                 namelist, matches,
                 [&](Customer& r) {
                   ask_new_value("\n Enter New TELEPHONE NUMBER: ", new_tel_no, r.tel_no);
                 },
                 save)},
       {'3', {}, true},
       {'4', {}, true}});
}

}  // namespace orvel
