// The file stream of one table: its data file, saved whole and loaded whole.
#pragma once

#include <cstddef>
#include <functional>
#include <optional>
#include <span>
#include <string>

namespace orvel {

// What a save does, decided under the save lock from the data file as it is then.
struct SavePlan {
  enum Action { kWrite, kKeep, kFail } action;
  std::span<const std::byte> image;  // what kWrite writes; must outlive the save call
};
// now: the file's bytes as a load would read them now, or nullopt when there is no
// file (or it cannot be read).
using DecideSave = std::function<SavePlan(const std::optional<std::string>& now)>;

class DataFile {
 public:
  explicit DataFile(std::string name) : name_(std::move(name)) {}

  // Replaces the file with the image: afterwards the file is the whole new
  // image, or, when false comes back, exactly what it was before.
  bool save(std::span<const std::byte> image) const;
  // Under the lock: reads the file, asks `decide`, writes (rename or in place) or not.
  // True when the file holds the plan's image afterwards (kKeep: true; kFail: false).
  bool save(const DecideSave& decide) const;
  // Reads the file's bytes over the start of the image; a missing, unreadable
  // or odd file changes nothing, a short one only the part it covers.
  void load(std::span<std::byte> image) const;

 private:
  std::string name_;
};

}  // namespace orvel
