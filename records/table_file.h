// A table's file stream: its data file and the base, what this session last loaded
// from it or saved to it, so that a save can tell what another session saved since.
#pragma once

#include <algorithm>
#include <cstring>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "records/data_file.h"
#include "records/merge.h"
#include "records/records.h"
#include "records/written.h"

namespace orvel {

template <class Rec>
class TableFile {
 public:
  explicit TableFile(std::string name) : file_(std::move(name), sizeof(Rec) * kSlots) {}

  // Lays the file's bytes over the start of the table (a missing file changes
  // nothing, a short one only what it covers) and takes both as the new base:
  // the table and the base come from one read, and no field is written since.
  // A file still as this session last loaded or saved it is not read: the
  // base is what it holds. After a save that failed, what this session typed
  // stays instead: the file is merged into the table as the next save would
  // merge it. A load that reads nothing (no file, or none that may be read in
  // time) changes nothing.
  void load(std::span<Rec, kSlots> table) {
    base();  // a base only for a table that is loaded or saved
    // Right after this session's own save, still under its lock, the file
    // holds what the save wrote: while that is the table, there is nothing
    // to read and nothing to copy.
    if (file_.holds_own_save() && base_whole_ &&
        memcmp(table.data(), base_.data(), table.size_bytes()) == 0) {
      release_kept_lock();
      return;
    }
    if (unsaved_) return merge_in(table);
    Loaded got = file_.load(std::as_writable_bytes(table));
    if (got.state == Loaded::kNothing || got.state == Loaded::kFailed) return;
    if (got.state == Loaded::kUnchanged) {
      if (base_whole_) {
        std::copy(base_.begin(), base_.end(), table.begin());
      } else {
        lay_over(base_odd_bytes_, table);
        std::copy(table.begin(), table.end(), base_.begin());
      }
    } else {
      std::copy(table.begin(), table.end(), base_.begin());
      remember(read_bytes(got, table));
    }
    clear_written<Rec>(table);
  }

  // Writes nothing when the file already holds the table; writes the table when
  // the file is still the base; else merges in what another session saved since
  // and writes that. Afterwards the table holds what the file holds and is the
  // new base, with no field written since. False: the file, the table, the base
  // and the written marks are as they were.
  bool save(std::span<Rec, kSlots> table) {
    bool is_merged = false, no_room = false;
    const std::span<const std::byte> mine = std::as_bytes(table);
    base();
    auto decide = [&](const Found& found) -> SavePlan {
      is_merged = false;
      // The file as it is now: unchanged, it holds what the base saw.
      std::optional<std::string_view> now;
      if (found.state == Found::kRead) now = found.bytes;
      if (found.state == Found::kUnchanged) now = base_bytes();
      if (now && holds(*now, mine)) return {SavePlan::kKeep, mine};
      if (found.state == Found::kUnchanged || is_base(now)) return {SavePlan::kWrite, mine};
      theirs_ = base_;
      if (now) lay_over(*now, slots(theirs_));
      merged_.resize(kSlots);
      no_room =
          !merge<Rec>(slots(base_), table, slots(theirs_), written_in<Rec>(table), slots(merged_));
      if (no_room) return {SavePlan::kFail, {}};
      is_merged = true;
      std::span<const std::byte> image = std::as_bytes(std::span(merged_));
      // Another session may have saved just this already.
      return {now && holds(*now, image) ? SavePlan::kKeep : SavePlan::kWrite, image};
    };
    if (!file_.save(decide)) {
      // Kept for the next save, unless there is no room for it in the table.
      unsaved_ = !no_room;
      return false;
    }
    unsaved_ = false;
    if (is_merged) std::copy(merged_.begin(), merged_.end(), table.begin());
    std::copy(table.begin(), table.end(), base_.begin());
    remember(as_chars(table));
    clear_written<Rec>(table);
    return true;
  }

 private:
  static std::span<Rec, kSlots> slots(std::vector<Rec>& v) {
    return std::span<Rec, kSlots>(v.data(), kSlots);
  }
  static std::string_view as_chars(std::span<const Rec> table) {
    return {reinterpret_cast<const char*>(table.data()), table.size_bytes()};
  }
  // The base, made (a zero table) the first time it is needed.
  std::vector<Rec>& base() {
    if (base_.empty()) base_.resize(kSlots);
    return base_;
  }
  // What the file held when the base was taken, as a save would read it.
  std::string_view base_bytes() const {
    return base_whole_ ? as_chars(base_) : std::string_view(base_odd_bytes_);
  }
  // The bytes a load read: the table's start, and the byte past it, if any.
  std::string_view read_bytes(const Loaded& got, std::span<const Rec, kSlots> table) {
    if (got.size == table.size_bytes()) return as_chars(table);
    odd_read_.assign(as_chars(table).substr(0, got.size));
    if (got.size > table.size_bytes()) odd_read_ += static_cast<char>(got.past);
    return odd_read_;
  }
  static bool holds(std::string_view file, std::span<const std::byte> image) {
    return file.size() == image.size() && memcmp(file.data(), image.data(), image.size()) == 0;
  }
  static void lay_over(std::string_view bytes, std::span<Rec, kSlots> table) {
    memcpy(table.data(), bytes.data(), std::min(bytes.size(), table.size_bytes()));
  }

  // The file merged into a table that holds what a failed save could not
  // write; the file becomes the base. The marks stay, but for the slots of
  // this session's adds: the counter carries those, and the records of the
  // file's own adds may lie there now.
  void merge_in(std::span<Rec, kSlots> table) {
    theirs_ = base_;
    Loaded got = file_.load(std::as_writable_bytes(slots(theirs_)));
    if (got.state != Loaded::kRead) return;  // the file is still the base, or is not read
    const std::optional<std::vector<int>> adds = add_slots<Rec>(slots(base_), table);
    merged_.resize(kSlots);
    if (!adds ||
        !merge<Rec>(slots(base_), table, slots(theirs_), written_in<Rec>(table), slots(merged_)))
      return;  // no room: the next save says so
    std::copy(merged_.begin(), merged_.end(), table.begin());
    std::swap(base_, theirs_);
    remember(read_bytes(got, slots(base_)));
    for (int slot : *adds) clear_written<Rec>(table, slot);
  }

  // The file as the base saw it, once read or written: the base is no longer
  // the zero table of no file. A whole image is the base table itself, byte
  // for byte, so only a file of another size keeps its bytes apart.
  void remember(std::string_view file) {
    base_exists_ = true;
    base_whole_ = file.size() == sizeof(Rec) * kSlots;
    if (!base_whole_) {
      base_odd_bytes_.assign(file);
    } else {
      base_odd_bytes_.clear();
    }
  }
  // True when the file holds now what it held at the last load or save.
  bool is_base(std::optional<std::string_view> now) const {
    if (now.has_value() != base_exists_) return false;
    if (!now) return true;
    return base_whole_ ? holds(*now, std::as_bytes(std::span(base_))) : *now == base_odd_bytes_;
  }

  DataFile file_;
  // The table right after the last load or save (before any: a zero table,
  // made at the first), and what the file then held: nothing, a whole image,
  // or other bytes.
  std::vector<Rec> base_;
  bool base_exists_ = false;
  bool base_whole_ = false;
  std::string base_odd_bytes_;
  std::vector<Rec> merged_;  // where a merge builds the image it writes
  std::vector<Rec> theirs_;  // the file laid over the base, for a merge
  bool unsaved_ = false;     // the last save failed: the table holds what it could not write
  std::string odd_read_;     // a file of another size, as a load read it
};

}  // namespace orvel
