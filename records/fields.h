// A record's fields as the merge, the written marks and the exports see them: where each
// lies, how wide it is, what it holds and its name, each checked against the data files.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <type_traits>

namespace orvel {

enum class FieldKind { kText, kInt, kCost };

struct RecordField {
  size_t offset;
  size_t width;
  FieldKind kind;
  const char* name;  // as the record type spells it: the exports' column names
};

// A field as the record lays it out, refused at compile time unless it sits at
// `kDocumented`, the offset it has always had in the data files.
template <class Member, size_t kOffset, size_t kDocumented>
consteval RecordField record_field(const char* name) {
  static_assert(kOffset == kDocumented, "a field has moved from its place in the data files");
  static_assert(std::is_array_v<Member> || std::is_same_v<Member, int32_t> ||
                std::is_same_v<Member, float>);
  if constexpr (std::is_same_v<Member, float>)
    return {kOffset, sizeof(Member), FieldKind::kCost, name};
  if constexpr (std::is_same_v<Member, int32_t>)
    return {kOffset, sizeof(Member), FieldKind::kInt, name};
  return {kOffset, sizeof(Member), FieldKind::kText, name};
}

// True when the fields take every byte of a record of `size` bytes, each byte
// in exactly one field, in order, and that size is `documented`.
constexpr bool covers(std::span<const RecordField> fields, size_t size, size_t documented) {
  size_t at = 0;
  for (const RecordField& f : fields) {
    if (f.offset != at || f.width == 0) return false;
    at += f.width;
  }
  return at == size && size == documented;
}

}  // namespace orvel
