// The undo record of an in-place save: made, found, laid over a read, put back.
#include "records/undo.h"

#include <errno.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstring>

#include "records/save_seam.h"

namespace orvel {

namespace {

constexpr char kMagic[8] = {'O', 'R', 'V', 'L', 'U', 'N', 'D', 'O'};
constexpr size_t kTrailer = 8 + 4 * 8;
constexpr size_t kPartHead = 2 * 8;

void put_u64(std::string& out, uint64_t v) {
  for (int i = 0; i < 8; ++i) out += static_cast<char>(v >> (8 * i));
}

uint64_t get_u64(const char* p) {
  uint64_t v = 0;
  for (int i = 7; i >= 0; --i) v = v << 8 | static_cast<unsigned char>(p[i]);
  return v;
}

uint64_t fnv1a(std::string_view bytes) {
  uint64_t h = 14695981039346656037ull;
  for (char c : bytes) {
    h ^= static_cast<unsigned char>(c);
    h *= 1099511628211ull;
  }
  return h;
}

bool read_at(int fd, char* into, size_t size, off_t at) {
  while (size > 0) {
    ssize_t n = pread(fd, into, size, at);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    into += n, size -= static_cast<size_t>(n), at += n;
  }
  return true;
}

}  // namespace

Undo undo_of(std::string_view old, std::span<const Range> runs, off_t old_size, off_t start) {
  Undo undo{start, old_size, {}};
  for (const Range& r : runs) {
    const size_t to = std::min(r.to, old.size());
    if (r.from < to) undo.parts.push_back({r.from, old.substr(r.from, to - r.from)});
  }
  return undo;
}

std::string make_undo(const Undo& undo, size_t image_size) {
  std::string out;
  for (const Undo::Part& p : undo.parts) {
    put_u64(out, p.at);
    put_u64(out, p.bytes.size());
    out.append(p.bytes);
  }
  out.append(kMagic, sizeof kMagic);
  put_u64(out, static_cast<uint64_t>(undo.start));
  put_u64(out, static_cast<uint64_t>(undo.old_size));
  put_u64(out, image_size);
  put_u64(out, fnv1a(out));
  return out;
}

std::optional<Undo> find_undo(int fd, off_t size, size_t image_size, std::string& buffer) {
  const off_t image = static_cast<off_t>(image_size);
  if (size < image + static_cast<off_t>(kTrailer)) return std::nullopt;
  char trailer[kTrailer];
  if (!read_at(fd, trailer, kTrailer, size - static_cast<off_t>(kTrailer)) ||
      memcmp(trailer, kMagic, sizeof kMagic) != 0)
    return std::nullopt;
  const uint64_t start = get_u64(trailer + 8), old_size = get_u64(trailer + 16);
  // A record holds at most a whole image of old bytes, and a head for each slot.
  const uint64_t most = image_size + 500 * kPartHead + kTrailer;
  if (get_u64(trailer + 24) != image_size || start < image_size ||
      start > static_cast<uint64_t>(size) - kTrailer || old_size > start ||
      static_cast<uint64_t>(size) - start > most)
    return std::nullopt;
  buffer.resize(static_cast<size_t>(size) - start);
  if (!read_at(fd, buffer.data(), buffer.size(), static_cast<off_t>(start))) return std::nullopt;
  const size_t body = buffer.size() - kTrailer;
  if (fnv1a(std::string_view(buffer).substr(0, body + kTrailer - 8)) !=
      get_u64(buffer.data() + body + kTrailer - 8))
    return std::nullopt;
  Undo undo{static_cast<off_t>(start), static_cast<off_t>(old_size), {}};
  const uint64_t covered = std::min<uint64_t>(old_size, image_size);
  for (size_t at = 0; at < body;) {
    if (body - at < kPartHead) return std::nullopt;
    const uint64_t from = get_u64(buffer.data() + at), length = get_u64(buffer.data() + at + 8);
    at += kPartHead;
    if (length > body - at || from > covered || length > covered - from) return std::nullopt;
    undo.parts.push_back({static_cast<size_t>(from), std::string_view(buffer).substr(at, length)});
    at += length;
  }
  return undo;
}

void undo_over(const Undo& undo, std::span<std::byte> image) {
  for (const Undo::Part& p : undo.parts) {
    if (p.at >= image.size()) continue;
    memcpy(image.data() + p.at, p.bytes.data(), std::min(p.bytes.size(), image.size() - p.at));
  }
}

bool put_back(int fd, const Undo& undo) {
  for (const Undo::Part& p : undo.parts) {
    if (!write_all(fd, std::as_bytes(std::span(p.bytes.data(), p.bytes.size())),
                   static_cast<off_t>(p.at)))
      return false;
  }
  return save_calls.fdatasync(fd) == 0 && save_calls.ftruncate(fd, undo.old_size) == 0 &&
         save_calls.fsync(fd) == 0;
}

}  // namespace orvel
