// The test kit: a temporary folder, a file reader and a table-image builder, for every test.
#pragma once

#include <cstring>
#include <initializer_list>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "console/device.h"
#include "records/records.h"

namespace orvel::testkit {

// The whole content of a file, or nothing when it cannot be opened and read.
std::optional<std::string> read_file(const std::string& path);

// Bytes nobody would write by chance; NULs often, bytes after them too. The
// same seed gives the same start whatever the length.
std::string pattern(unsigned seed, size_t size);

// One case of a table of dialogues: its name, what is typed and what the screen shows.
struct Exchange {
  const char* name;
  std::string typed;
  std::string shown;
};

// Runs the program's main menu over `device` as the process's console until the
// program exits: its exit status, or nothing when the menu returned.
std::optional<int> run_main_menu(Device& device);

// A fresh empty directory under `base` ($TMPDIR or /tmp by default), removed
// with its contents.
class TempDir {
 public:
  TempDir();
  explicit TempDir(const std::string& base);
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;

  const std::string& path() const { return path_; }
  std::string file(std::string_view name) const { return path_ + "/" + std::string(name); }
  bool exists(std::string_view name) const;
  // The names in the directory, sorted.
  std::vector<std::string> names() const;
  // The whole content of a file in the directory ("" when it cannot be read).
  std::string read(std::string_view name) const;
  // Puts `bytes` in place as the whole file, in one rename, as a save does.
  void write(std::string_view name, std::string_view bytes) const;

 private:
  std::string path_;
};

// Fills a text field the way a read stores it: the characters, then NUL.
template <size_t N>
void put(char (&field)[N], std::string_view text) {
  size_t n = text.size() < N ? text.size() : N - 1;
  memcpy(field, text.data(), n);
  field[n] = '\0';
}

// A whole table image of 500 records, built slot by slot.
template <class Rec>
class Image {
 public:
  Image() : slots_(kSlots) {}
  // The image a file holds; a file of another size gives an image of no slots.
  static Image of(const std::string& bytes) {
    Image image;
    if (bytes.size() != kSlots * sizeof(Rec)) image.slots_.clear();
    memcpy(image.slots_.data(), bytes.data(), image.slots_.size() * sizeof(Rec));
    return image;
  }

  // A table holding these records in these slots, the others empty.
  static Image holding(std::initializer_list<std::pair<int, Rec>> records) {
    Image image;
    for (const auto& [slot, r] : records) image[slot] = r;
    return image;
  }

  // What adds to an empty table leave: the first record in slot 499, each
  // next one a slot below, and the add counter at their number.
  static Image added(std::initializer_list<Rec> records) {
    Image image;
    int slot = kSlots;
    for (const Rec& r : records) image[--slot] = r;
    image.counter(static_cast<int32_t>(records.size()));
    return image;
  }

  Rec& operator[](int slot) { return slots_[slot]; }
  const Rec& operator[](int slot) const { return slots_[slot]; }
  // The add counter lives in slot 1's total.
  Image& counter(int32_t total) {
    slots_[1].total = total;
    return *this;
  }
  std::string bytes() const {
    return std::string(reinterpret_cast<const char*>(slots_.data()), slots_.size() * sizeof(Rec));
  }
  // Where a file differs from this image: "" when it holds exactly it.
  std::string difference(const std::string& file) const {
    if (file.size() != slots_.size() * sizeof(Rec)) {
      return "the file has " + std::to_string(file.size()) + " bytes";
    }
    std::string slots;
    for (size_t i = 0; i < slots_.size(); ++i) {
      if (memcmp(file.data() + i * sizeof(Rec), &slots_[i], sizeof(Rec)) != 0) {
        // Two appends, not " " + a number: GCC 12 at -O3 takes that
        // concatenation for an overlapping copy (-Wrestrict).
        slots += ' ';
        slots += std::to_string(i);
      }
    }
    return slots.empty() ? "" : "slots that differ:" + slots;
  }

 private:
  std::vector<Rec> slots_;
};

}  // namespace orvel::testkit
