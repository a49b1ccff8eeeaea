// Web pages: add, find by web number or e-mail, list, update (the cost included).
#pragma once

#include "records/records.h"
#include "records/table_file.h"

namespace orvel {

class Webs {
 public:
  int display_web(int w);
  void find_web();
  void add_web();
  void save_web();
  void load_web();
  void display_all_web();
  void update_web();

 private:
  TableFile<Web> g{file_of<Web>()};
};

}  // namespace orvel
