// The Rehber address book: add, find by number or first name, list, update friends.
#pragma once

#include "records/records.h"
#include "records/table_file.h"

namespace orvel {

class Reh {
 public:
  int display_fri(int c);
  void find_fri();
  void add_fri();
  void save_fri();
  void load_fri();
  void display_all_fri();
  void update_fri();

 private:
  TableFile<Friend> f{file_of<Friend>()};
};

}  // namespace orvel
