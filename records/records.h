// The three record layouts, byte for byte the records of the data files, and their tables.
#pragma once

#include <bit>
#include <cstddef>
#include <cstdint>
#include <span>
#include <type_traits>

#include "records/fields.h"

namespace orvel {

static_assert(std::endian::native == std::endian::little, "the data files are little-endian");
static_assert(sizeof(float) == 4 && sizeof(int32_t) == 4);

inline constexpr int kSlots = 500;

#pragma pack(push, 1)

struct Customer {
  char fname[20];
  char surname[15];
  char cust_no[4];  // the key; NUL first marks an empty slot
  char cust_title[6];
  char street[30];
  char town[25];
  char city[15];
  char p_code[7];
  char dob[15];
  char tel_no[20];
  char r_date[15];
  int32_t total;  // the add counter, in slot 1
  int32_t num;    // the counter step less one, in slot 2
};

struct Web {
  char web_no[4];  // the key
  char cust_no[4];
  char web_name[25];
  char url[40];
  char email[30];
  char s_date[15];
  char a_date[15];
  char paid[2];
  char com[70];
  float cost;
  int32_t total;
  int32_t num;
};

struct Friend {
  char f_no[4];  // the key
  char fname[20];
  char surname[15];
  char email[30];
  char url[50];
  char street[30];
  char town[25];
  char city[15];
  char p_code[7];
  char dob[15];
  char tel_no[20];
  char mob_no[20];
  int32_t total;
  int32_t num;
};

#pragma pack(pop)

// Each record's fields in order, at the offsets the data files have always had
// them: the merge, the written marks and the exports go by these lists, and the compiler
// holds them to the layouts above, field by field and whole.
#define FIELD_AT(Rec, name, at) record_field<decltype(Rec::name), offsetof(Rec, name), at>(#name)

inline constexpr RecordField kCustomerFields[] = {
    FIELD_AT(Customer, fname, 0),    FIELD_AT(Customer, surname, 20),
    FIELD_AT(Customer, cust_no, 35), FIELD_AT(Customer, cust_title, 39),
    FIELD_AT(Customer, street, 45),  FIELD_AT(Customer, town, 75),
    FIELD_AT(Customer, city, 100),   FIELD_AT(Customer, p_code, 115),
    FIELD_AT(Customer, dob, 122),    FIELD_AT(Customer, tel_no, 137),
    FIELD_AT(Customer, r_date, 157), FIELD_AT(Customer, total, 172),
    FIELD_AT(Customer, num, 176)};
static_assert(covers(kCustomerFields, sizeof(Customer), 180));

inline constexpr RecordField kWebFields[] = {
    FIELD_AT(Web, web_no, 0),   FIELD_AT(Web, cust_no, 4), FIELD_AT(Web, web_name, 8),
    FIELD_AT(Web, url, 33),     FIELD_AT(Web, email, 73),  FIELD_AT(Web, s_date, 103),
    FIELD_AT(Web, a_date, 118), FIELD_AT(Web, paid, 133),  FIELD_AT(Web, com, 135),
    FIELD_AT(Web, cost, 205),   FIELD_AT(Web, total, 209), FIELD_AT(Web, num, 213)};
static_assert(covers(kWebFields, sizeof(Web), 217));

inline constexpr RecordField kFriendFields[] = {
    FIELD_AT(Friend, f_no, 0),    FIELD_AT(Friend, fname, 4),    FIELD_AT(Friend, surname, 24),
    FIELD_AT(Friend, email, 39),  FIELD_AT(Friend, url, 69),     FIELD_AT(Friend, street, 119),
    FIELD_AT(Friend, town, 149),  FIELD_AT(Friend, city, 174),   FIELD_AT(Friend, p_code, 189),
    FIELD_AT(Friend, dob, 196),   FIELD_AT(Friend, tel_no, 211), FIELD_AT(Friend, mob_no, 231),
    FIELD_AT(Friend, total, 251), FIELD_AT(Friend, num, 255)};
static_assert(covers(kFriendFields, sizeof(Friend), 259));

#undef FIELD_AT

template <class Rec>
constexpr std::span<const RecordField> fields_of() {
  if constexpr (std::is_same_v<Rec, Customer>) return kCustomerFields;
  if constexpr (std::is_same_v<Rec, Web>) return kWebFields;
  static_assert(std::is_same_v<Rec, Customer> || std::is_same_v<Rec, Web> ||
                std::is_same_v<Rec, Friend>);
  return kFriendFields;
}

// The data file each table is stored in, in the working folder.
template <class Rec>
constexpr const char* file_of() {
  if constexpr (std::is_same_v<Rec, Customer>) return "customer.dat";
  if constexpr (std::is_same_v<Rec, Web>) return "web.dat";
  return "friend.dat";
}

// The tables, process-wide and zero at start; each is its data file's image.
extern Customer namelist[kSlots];
extern Web weblist[kSlots];
extern Friend friendlist[kSlots];

// A slot is empty when its key's first byte is NUL.
inline bool is_empty(const Customer& r) { return r.cust_no[0] == '\0'; }
inline bool is_empty(const Web& r) { return r.web_no[0] == '\0'; }
inline bool is_empty(const Friend& r) { return r.f_no[0] == '\0'; }

}  // namespace orvel
