// The undo record of an in-place save: the old bytes of every slot it is about
// to write over, kept at the data file's own end, past the table's image, from
// before its first write until after its last one is on the disk.
//
// Every sharer sees it, since it is in the file, and keeping it needs no right
// to the folder: a group member who may only write the file in place has it
// too. A load reads the first records of a longer file and never the rest, so
// the record changes nothing a load shows; the save that made it cuts the file
// back to its size once its last write is flushed, and that cut is the moment
// the new records hold. A save that did not get there (a kill, a power cut, a
// full disk) leaves the record whole, and whoever holds the lock next puts the
// old bytes back before anything else; a load that finds one lays the old bytes
// over what it read, so it shows the old table whole, whatever was torn.
//
// The record, at `start` (past both the image and the file's old end), in
// little-endian numbers:
//   for each run of old bytes: u64 offset, u64 length, the bytes
//   the trailer: "ORVLUNDO", u64 start, u64 old size, u64 image size,
//                u64 FNV-1a hash of everything from `start` up to the hash.
// The image size ties it to its kind of table; the hash tells a record torn by
// a power cut (its save never wrote a record over) from a whole one.
#pragma once

#include <sys/types.h>

#include <cstddef>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace orvel {

// Byte ranges of whole slots.
struct Range {
  size_t from, to;
};

struct Undo {
  off_t start;
  off_t old_size;
  struct Part {
    size_t at;
    std::string_view bytes;  // in what it was made from, or read into
  };
  std::vector<Part> parts;
};

// What puts back `old`'s bytes in `runs` (as far as `old` covers them) and
// the file's old size, to be kept at `start`; its parts are views of `old`.
Undo undo_of(std::string_view old, std::span<const Range> runs, off_t old_size, off_t start);

// The record of `undo`, as kept in a data file of a table of `image_size` bytes.
std::string make_undo(const Undo& undo, size_t image_size);

// The undo record at the end of an open file of `size` bytes, if there is a
// whole one for a table of `image_size` bytes; read into `buffer`.
std::optional<Undo> find_undo(int fd, off_t size, size_t image_size, std::string& buffer);

// Lays the old bytes over `image`, the file's first bytes as read.
void undo_over(const Undo& undo, std::span<std::byte> image);

// Puts the old bytes back in the file, flushed, then cuts the file to its old
// size, flushed: the record goes last, so a kill or a power cut in between
// leaves it to be put back again.
bool put_back(int fd, const Undo& undo);

}  // namespace orvel
