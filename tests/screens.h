// The menu screens of orvel as the user sees them, for composing expected transcripts.
#pragma once

#include <initializer_list>
#include <string>
#include <string_view>

namespace orvel::screens {

inline constexpr std::string_view kMainMenu =
    "\n\t\t --------------------------"
    "\n\t\t   Orvel Database"
    "\n\t\t      MAIN MENU"
    "\n\t\t Design by: www.orvel.example"
    "\n\t\t --------------------------"
    "\n\t\t 1. Customer Menu"
    "\n\t\t 2. Web Menu"
    "\n\t\t 3. Rehber"
    "\n\t\t 4. Exit"
    "\n\t\t-----------------------------"
    "\n\t\t Enter number: ";

inline constexpr std::string_view kQuitConfirmation =
    "\n\t\t Do you rely want to quit?"
    "\n\t\t....................................."
    "\n\t\t 1. Yes \n\t\t 2. No \n\t\t Enter number: ";

inline constexpr std::string_view kBye = "\n\t\tBye...";

inline constexpr std::string_view kCustomerMenu =
    "\n\t\t --------------------------"
    "\n\t\t       CUSTOMER MENU  "
    "\n\t\t --------------------------"
    "\n\t\t 1. ADD Customer "
    "\n\t\t 2. FIND Customer"
    "\n\t\t 3. DISPLAY Customers"
    "\n\t\t 4. UPDATE Customer "
    "\n\t\t 5. MAIN MENU"
    "\n\t\t-----------------------------------"
    "\n\t\t Enter number: ";

inline constexpr std::string_view kWebMenu =
    "\n\t\t --------------------------"
    "\n\t\t        WEB MENU  "
    "\n\t\t --------------------------"
    "\n\t\t 1. ADD Web"
    "\n\t\t 2. FIND Web"
    "\n\t\t 3. DISPLAY Webs"
    "\n\t\t 4. UPDATE Web"
    "\n\t\t 5. MAIN MENU"
    "\n\t\t-----------------------------------"
    "\n\t\t Enter number: ";

inline constexpr std::string_view kRehberMenu =
    "\n\t\t --------------------------"
    "\n\t\t        REHBER MENU  "
    "\n\t\t --------------------------"
    "\n\t\t 1. ADD Friend"
    "\n\t\t 2. FIND Friend"
    "\n\t\t 3. DISPLAY Friends"
    "\n\t\t 4. UPDATE Frient Details"
    "\n\t\t 5. MAIN MENU"
    "\n\t\t-----------------------------------"
    "\n\t\t Enter number: ";

// The customer search's own menu, where "12" typed at the main menu lands.
inline constexpr std::string_view kFindCustomerMenu =
    "\n\n\t\t--------------------------"
    "\n\t\t   FIND CUSTOMER RECORD "
    "\n\t\t--------------------------"
    "\n\t\t 1. Search by CUSTOMER ID"
    "\n\t\t 2. Search by POST CODE"
    "\n\t\t 3. Return CUSTOMER Menu"
    "\n\t\t--------------------------"
    "\n\n\t\t Enter Number:";

// What a clear screen writes to a terminal.
inline std::string clear() { return "\x1b[H\x1b[2J"; }

// The pieces of a transcript, one after another.
inline std::string dialogue(std::initializer_list<std::string_view> parts) {
  std::string all;
  for (std::string_view part : parts) all += part;
  return all;
}

// The same text as a terminal shows it: every newline goes out as CR LF.
inline std::string on_tty(std::string_view text) {
  std::string out;
  for (char c : text) {
    if (c == '\n') out += '\r';
    out += c;
  }
  return out;
}

}  // namespace orvel::screens
