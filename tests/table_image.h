// Data files as the tests build and check them: a whole table image, slot by slot.
#pragma once

#include <cstring>
#include <string>
#include <string_view>
#include <vector>

#include "records/records.h"

namespace orvel::testkit {

// Fills a text field the way a read stores it: the characters, then NUL.
template <size_t N>
void put(char (&field)[N], std::string_view text) {
  size_t n = text.size() < N ? text.size() : N - 1;
  memcpy(field, text.data(), n);
  field[n] = '\0';
}

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

  Rec& operator[](int slot) { return slots_[slot]; }
  const Rec& operator[](int slot) const { return slots_[slot]; }
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
        slots += " " + std::to_string(i);
      }
    }
    return slots.empty() ? "" : "slots that differ:" + slots;
  }

 private:
  std::vector<Rec> slots_;
};

}  // namespace orvel::testkit
