// The three record layouts, byte for byte the records of the data files, and their tables.
#pragma once

#include <bit>
#include <cstddef>
#include <cstdint>

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

static_assert(sizeof(Customer) == 180);
static_assert(offsetof(Customer, fname) == 0 && offsetof(Customer, surname) == 20);
static_assert(offsetof(Customer, cust_no) == 35 && offsetof(Customer, cust_title) == 39);
static_assert(offsetof(Customer, street) == 45 && offsetof(Customer, town) == 75);
static_assert(offsetof(Customer, city) == 100 && offsetof(Customer, p_code) == 115);
static_assert(offsetof(Customer, dob) == 122 && offsetof(Customer, tel_no) == 137);
static_assert(offsetof(Customer, r_date) == 157 && offsetof(Customer, total) == 172);
static_assert(offsetof(Customer, num) == 176);

static_assert(sizeof(Web) == 217);
static_assert(offsetof(Web, web_no) == 0 && offsetof(Web, cust_no) == 4);
static_assert(offsetof(Web, web_name) == 8 && offsetof(Web, url) == 33);
static_assert(offsetof(Web, email) == 73 && offsetof(Web, s_date) == 103);
static_assert(offsetof(Web, a_date) == 118 && offsetof(Web, paid) == 133);
static_assert(offsetof(Web, com) == 135 && offsetof(Web, cost) == 205);
static_assert(offsetof(Web, total) == 209 && offsetof(Web, num) == 213);

static_assert(sizeof(Friend) == 259);
static_assert(offsetof(Friend, f_no) == 0 && offsetof(Friend, fname) == 4);
static_assert(offsetof(Friend, surname) == 24 && offsetof(Friend, email) == 39);
static_assert(offsetof(Friend, url) == 69 && offsetof(Friend, street) == 119);
static_assert(offsetof(Friend, town) == 149 && offsetof(Friend, city) == 174);
static_assert(offsetof(Friend, p_code) == 189 && offsetof(Friend, dob) == 196);
static_assert(offsetof(Friend, tel_no) == 211 && offsetof(Friend, mob_no) == 231);
static_assert(offsetof(Friend, total) == 251 && offsetof(Friend, num) == 255);

// The tables, process-wide and zero at start; each is its data file's image.
extern Customer namelist[kSlots];
extern Web weblist[kSlots];
extern Friend friendlist[kSlots];

// A slot is empty when its key's first byte is NUL.
inline bool is_empty(const Customer& r) { return r.cust_no[0] == '\0'; }
inline bool is_empty(const Web& r) { return r.web_no[0] == '\0'; }
inline bool is_empty(const Friend& r) { return r.f_no[0] == '\0'; }

}  // namespace orvel
