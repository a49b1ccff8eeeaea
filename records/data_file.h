// The file stream of one table: its data file, saved whole and loaded whole.
#pragma once

#include <cstddef>
#include <span>
#include <string>

namespace orvel {

class DataFile {
 public:
  explicit DataFile(std::string name) : name_(std::move(name)) {}

  // Replaces the file with the image: afterwards the file is the whole new
  // image, or, when false comes back, exactly what it was before.
  bool save(std::span<const std::byte> image) const;
  // Reads the file's bytes over the start of the image; a missing, unreadable
  // or odd file changes nothing, a short one only the part it covers.
  void load(std::span<std::byte> image) const;

 private:
  std::string name_;
};

}  // namespace orvel
