// The file stream of one table: its data file, saved whole and loaded whole.
#pragma once

#include <cstddef>
#include <functional>
#include <optional>
#include <span>
#include <string>
#include <string_view>

namespace orvel {

// What a save does, decided under the save lock from the data file as it is then.
struct SavePlan {
  enum Action { kWrite, kKeep, kFail } action;
  std::span<const std::byte> image;  // what kWrite writes; must outlive the save call
};
// now: the file's bytes as read() gives them now, or nullopt when there is no
// file (or it cannot be read); valid for the call only.
using DecideSave = std::function<SavePlan(std::optional<std::string_view> now)>;

class DataFile {
 public:
  // image_size: the size of the table's image; no read takes more than one
  // byte beyond it, whatever the file holds.
  DataFile(std::string name, size_t image_size) : name_(std::move(name)), image_size_(image_size) {}

  // Under the file's lock: reads the file, asks `decide`, writes (rename or in
  // place) or not. True when the file holds the plan's image afterwards (kKeep:
  // true; kFail: false). A file that is not a regular file we may read and write
  // fails without asking. `decide` may be asked again, when another session's
  // first save made the file meanwhile; it must not save or load this file.
  bool save(const DecideSave& decide) const;
  // The file's bytes as a load reads them, under the file's lock taken shared: at most
  // one byte more than the image, so a longer file is never taken for it;
  // nullopt for a missing, unreadable or odd file. Valid until the next read
  // or save.
  std::optional<std::string_view> read() const;

 private:
  size_t read_limit() const { return image_size_ + 1; }

  std::string name_;
  size_t image_size_;
};

}  // namespace orvel
