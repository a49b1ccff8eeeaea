// The postal address that customers and friends share: how an add asks it, an update changes it
// and both layouts show it.
#pragma once

#include "dialogue/prompts.h"

namespace orvel {

// The add's run from the address heading on, through the date of birth and
// telephone number that follow it in both kinds.
template <class Rec>
void ask_address(Rec& r) {
  con().text("\n    ADDRESS ");
  ask_line("\n STREET: ", r.street);
  ask_line("\n TOWN: ", r.town);
  ask_word("\n CITY: ", r.city);
  ask_line("\n POST CODE: ", r.p_code);
  ask_word("\n DATE OF BIRTH: ", r.dob);
  // "TELEPHON" is the system's own text, byte for byte, as users have always seen it.
  ask_word("\n TELEPHON NUMBER: ", r.tel_no);
}

// An address update's new values: empty at each update, kept across the
// passes of its menu, so a failed read leaves the value typed before.
struct NewAddress {
  char street[30] = {};
  char town[25] = {};
  char city[15] = {};
  char p_code[7] = {};

  template <class Rec>
  void ask_into(Rec& r) {
    ask_new_line("\n Enter New STREET: ", street, r.street);
    ask_new_line("\n Enter New TOWN: ", town, r.town);
    ask_new_value("\n Enter New CITY: ", city, r.city);
    ask_new_line("\n Enter New POST CODE: ", p_code, r.p_code);
  }
};

// The address line of every layout: "street, town, city, post code."
template <class Rec>
void show_address(const Rec& r) {
  con().text({"\n Address : ", field(r.street), ", ", field(r.town), ", ", field(r.city), ", ",
              field(r.p_code), "."});
}

}  // namespace orvel
