// Customers: add, find by identity number or post code, list, update.
#pragma once

#include "records/records.h"
#include "records/table_file.h"

namespace orvel {

class Cust {
 public:
  int display_cust(int c);
  void find_cust();
  void add_cust();
  void save_cust();
  void load_cust();
  void display_all_cust();
  void update_cust();

 private:
  TableFile<Customer> f{file_of<Customer>()};
};

}  // namespace orvel
