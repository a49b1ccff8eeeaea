// What each kind of record puts on the screen, for composing expected transcripts:
// its search and update menus, its add dialogue, its two layouts and what a user types.
#pragma once

#include <time.h>

#include <string>
#include <string_view>

#include "records/records.h"
#include "tests/kit.h"
#include "tests/screens.h"

namespace orvel::screens {

inline constexpr std::string_view kNotFount = "\n**File Not Fount**\n";
inline constexpr std::string_view kNotFound = "\n**File Not Found**\n";
inline constexpr std::string_view kNotSaved = "\n**File Not Saved**\n";
inline constexpr std::string_view kTableFull = "\n**Table Full**\n";
inline constexpr std::string_view kRule =
    "\n_____________________________________________________________________";

inline constexpr std::string_view kUpdateCustomerMenu =
    "\n\n\t\t--------------------------"
    "\n\t\t     UPDATE CUSTOMER "
    "\n\t\t--------------------------"
    "\n\t\t 1. Address"
    "\n\t\t 2. Thelepone Number"
    "\n\t\t--------------------------"
    "\n\n\t\t Enter Number:";

inline constexpr std::string_view kFindWebMenu =
    "\n\n\t\t--------------------------"
    "\n\t\t    FIND WEB RECORD "
    "\n\t\t--------------------------"
    "\n\t\t 1. Search by WEB ID"
    "\n\t\t 2. Search by E-MAIL"
    "\n\t\t 3. Return WEB Menu"
    "\n\t\t--------------------------"
    "\n\n\t\t Enter Number:";

inline constexpr std::string_view kUpdateWebMenu =
    "\n\n\t\t--------------------------"
    "\n\t\t     UPDATE WEB "
    "\n\t\t--------------------------"
    "\n\t\t 1. E-Mail"
    "\n\t\t 2. Page Name"
    "\n\t\t 3. URL Address"
    "\n\t\t 4. Add Cost"
    "\n\t\t 5. Takawey Cost"
    "\n\t\t 6. Paid"
    "\n\t\t 7. Return Web Menu"
    "\n\t\t--------------------------"
    "\n\n\t\t Enter Number:";

inline constexpr std::string_view kFindFriendMenu =
    "\n\n\t\t--------------------------"
    "\n\t\t   FIND FRIEND RECORD "
    "\n\t\t--------------------------"
    "\n\t\t 1. Search by FRIEND ID"
    "\n\t\t 2. Search by FRIEND NAME"
    "\n\t\t 3. Return FRIEND Menu"
    "\n\t\t--------------------------"
    "\n\n\t\t Enter Number:";

inline constexpr std::string_view kUpdateFriendMenu =
    "\n\n\t\t--------------------------"
    "\n\t\t     UPDATE FRIEND "
    "\n\t\t--------------------------"
    "\n\t\t 1. Address"
    "\n\t\t 2. Email  "
    "\n\t\t 3. Url"
    "\n\t\t 4. Thelepone Number"
    "\n\t\t 5. Mobile Number"
    "\n\t\t 6. FRIENDS Menu"
    "\n\t\t--------------------------"
    "\n\n\t\t Enter Number:";

// The prompts of the searches and updates.
inline constexpr std::string_view kAskCustomerId = "\n Enter CUSTOMER ID: ";
inline constexpr std::string_view kAskPostCode = "\n\n Enter post code: ";
inline constexpr std::string_view kAskNewAddress =
    "\n Enter New STREET: \n Enter New TOWN: \n Enter New CITY: \n Enter New POST CODE: ";
inline constexpr std::string_view kAskNewTelephone = "\n Enter New TELEPHONE NUMBER: ";
inline constexpr std::string_view kAskFindWebNo = "\n Enter WEB NO: ";
inline constexpr std::string_view kAskEmail = "\n\n Enter E-MAIL: ";
inline constexpr std::string_view kAskUpdateWebNo = "\n Enter WEB No: ";
inline constexpr std::string_view kAskNewEmail = "\n Enter New E-MAIL: ";
inline constexpr std::string_view kAskNewPageTitle = "\n Enter New PAGE TITLE: ";
inline constexpr std::string_view kAskNewUrl = "\n Enter New URL: ";
inline constexpr std::string_view kAskAddCost = "\n Enter ADD To COST ";
inline constexpr std::string_view kAskTakeCost = "\n Enter To TAKAWEY From COST ";
inline constexpr std::string_view kAskNewPaid = "\n Enter To Update PAID (Y/N): ";
inline constexpr std::string_view kAskFriendId = "\n Enter FRIEND ID: ";
inline constexpr std::string_view kAskFriendName = "\n\n Enter friend Name: ";
inline constexpr std::string_view kAskNewFriendEmail = "\n Enter New EMAIL: ";
inline constexpr std::string_view kAskNewMobile = "\n Enter New MOBILE NUMBER: ";

// Today's date as an add shows it, from the clock the program reads too.
inline std::string today_shown() {
  time_t now = time(nullptr);
  tm t{};
  localtime_r(&now, &t);
  return "\n Date: " + std::to_string(t.tm_mday) + "/ " + std::to_string(t.tm_mon + 1) + "/ " +
         std::to_string(t.tm_year + 1900);
}

// One line of typed input per field, in the order the add asks for them.
inline std::string lines(std::initializer_list<std::string_view> fields) {
  std::string typed;
  for (std::string_view f : fields) (typed += f) += '\n';
  return typed;
}

struct CustomerText {
  std::string surname, fname, title, cust_no, street, town, city, p_code, dob, tel_no, r_date;

  std::string typed() const {
    return lines({surname, fname, title, cust_no, street, town, city, p_code, dob, tel_no, r_date});
  }
  std::string address() const { return street + ", " + town + ", " + city + ", " + p_code + "."; }
  // One hit of a search.
  std::string shown() const {
    return "\n Cust No : " + cust_no + "\n Customer: " + title + " " + fname + " " + surname +
           "\n Address : " + address() + "\n Date of Bith: " + dob + "\n Tel No  : " + tel_no +
           "\n Reg Date: " + r_date;
  }
  // One record of the listing.
  std::string listed() const {
    return std::string(kRule) + "\n Cust No : " + cust_no + "\t Customer: " + title + " " + fname +
           " " + surname + "\n Address : " + address() + "\n Tel No  : " + tel_no +
           "\t Reg Date: " + r_date + "\n Date of Bith: " + dob;
  }
  // The record as an add stores it.
  Customer record() const {
    using testkit::put;
    Customer r{};
    put(r.surname, surname), put(r.fname, fname), put(r.cust_title, title);
    put(r.cust_no, cust_no), put(r.street, street), put(r.town, town), put(r.city, city);
    put(r.p_code, p_code), put(r.dob, dob), put(r.tel_no, tel_no), put(r.r_date, r_date);
    return r;
  }
};

// The add's prompts; `number` is the running number it shows.
inline std::string customer_add(int number) {
  return "\n\n\tPLEASE ENTER CUSTOMER\n\n SURNAME: \n FIRST NAME(S): \n TITLE (MR/MISS/MS): "
         "\n ID No: " +
         std::to_string(number) +
         "\n IDENTIDY NO: \n    ADDRESS \n STREET: \n TOWN: \n CITY: \n POST CODE: "
         "\n DATE OF BIRTH: \n TELEPHON NUMBER: " +
         today_shown() + "\n TODAY DATE: ";
}

struct WebText {
  std::string web_no, email, web_name, url, s_date, a_date, cost, paid, com;
  std::string cost_shown = cost;  // the number as the program prints it

  std::string typed() const {
    return lines({web_no, email, web_name, url, s_date, a_date, cost, paid, com});
  }
  std::string shown() const {
    return "\n Web No: " + web_no + "\n E-mail: " + email + "\n Page Title: " + web_name +
           "\n Url: Http://" + url + "\n Start: " + s_date + "\n Due: " + a_date +
           "\n Cost (in pound): " + cost_shown + "\n Paid (Y=Yes/N=No): " + paid +
           "\n\n Descrp. & Com.: \n" + com;
  }
  std::string listed() const {
    return std::string(kRule) + "\n Web No: " + web_no + "\t E-mail: " + email +
           "\n Page Title: " + web_name + "\n Url: Http://" + url + "\n Start: " + s_date +
           "\t Due: " + a_date + "\n Cost (in pound): " + cost_shown +
           "\t Paid (Y=Yes/N=No): " + paid + "\n Descrip. & Com.: \n" + com;
  }
  Web record(float stored_cost) const {
    using testkit::put;
    Web r{};
    put(r.web_no, web_no), put(r.email, email), put(r.web_name, web_name), put(r.url, url);
    put(r.s_date, s_date), put(r.a_date, a_date), put(r.paid, paid), put(r.com, com);
    r.cost = stored_cost;
    return r;
  }
};

inline std::string web_add(int number) {
  return "\n\n\tPLEASE ENTER WEB\n\n  Enter: " + std::to_string(number) +
         "\n WEB NO: \n E-MAIL ADDRESS: \n PAGE TITLE: \n URL ADDRESS: " + today_shown() +
         "\n START DATE: \n DUE DATE: \n COST (in pound): \n PAID (Y/N): "
         "\n PAGE DESCRIPTION & COMMENTS: ";
}

struct FriendText {
  std::string f_no, surname, fname, email, url, street, town, city, p_code, dob, tel_no, mob_no;

  std::string typed() const {
    return lines(
        {f_no, surname, fname, email, url, street, town, city, p_code, dob, tel_no, mob_no});
  }
  std::string address() const { return street + ", " + town + ", " + city + ", " + p_code + "."; }
  std::string shown() const {
    return "\n No : " + f_no + "\n" + fname + " " + surname + "\n Date of Bith: " + dob +
           "\n Email: " + email + "\n Url: " + url + "\n Address : " + address() +
           "\n Tel No  : " + tel_no + "\n Mobile: " + mob_no;
  }
  std::string listed() const {
    return std::string(kRule) + "\n No : " + f_no + "\t" + fname + " " + surname +
           "\n Dob: " + dob + "\tEmail: " + email + "\n Url: " + url + "\n Address : " + address() +
           "\n Tel No  : " + tel_no + "\t Mobile: " + mob_no;
  }
  Friend record() const {
    using testkit::put;
    Friend r{};
    put(r.f_no, f_no), put(r.surname, surname), put(r.fname, fname), put(r.email, email);
    put(r.url, url), put(r.street, street), put(r.town, town), put(r.city, city);
    put(r.p_code, p_code), put(r.dob, dob), put(r.tel_no, tel_no), put(r.mob_no, mob_no);
    return r;
  }
};

inline std::string friend_add(int number) {
  return "\n\n\tPLEASE ENTER FRIEND\n\n ID No: " + std::to_string(number) +
         "\n IDENTIDY NO: \n SURNAME: \n FIRST NAME(S): \n E-MAIL: \n URL: \n    ADDRESS "
         "\n STREET: \n TOWN: \n CITY: \n POST CODE: \n DATE OF BIRTH: \n TELEPHON NUMBER: "
         "\n MOBILE NO: ";
}

// `count` search hits of the same record (the empty one, say), each with its newline.
template <class Text>
std::string hits(const Text& record, int count) {
  std::string all;
  for (int i = 0; i < count; ++i) all += record.shown() + "\n";
  return all;
}

// The end of every whole session: back at the main menu, then quit.
inline std::string leave_and_quit() { return dialogue({kMainMenu, kQuitConfirmation, kBye}); }

}  // namespace orvel::screens
