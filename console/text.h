// Text fields and the program's own texts, kept apart by type so that nothing a
// data file holds is ever printed as if the program had written it.
#pragma once

#include <cstddef>
#include <cstring>
#include <string>
#include <string_view>

namespace orvel {

// A record's or a working value's text: its bytes up to the NUL, never past the
// width. field() is the only way to make one, so a Field always has its bound.
class Field {
 public:
  std::string_view text() const { return text_; }

 private:
  template <size_t N>
  friend Field field(const char (&f)[N]);
  explicit Field(std::string_view text) : text_(text) {}
  std::string_view text_;
};

template <size_t N>
Field field(const char (&f)[N]) {
  return Field({f, strnlen(f, N)});
}

// A text the program itself writes: only a string literal (or a constant built
// from one) converts, and the check runs while compiling. A record's array is
// not a constant, so reading its last byte here stops the build instead of
// printing a field that may hold no NUL at all.
class Literal {
 public:
  template <size_t N>
  consteval Literal(const char (&s)[N]) : text_(s, N - 1) {
    if (s[N - 1] != '\0') throw "a literal ends with its NUL";
  }
  constexpr std::string_view view() const { return text_; }

 private:
  std::string_view text_;
};

// One piece of a run of output: the program's text, or a field to be shown with care.
class Piece {
 public:
  template <size_t N>
  consteval Piece(const char (&s)[N]) : text_(Literal(s).view()) {}
  constexpr Piece(Literal s) : text_(s.view()) {}
  Piece(Field f) : text_(f.text()), is_field_(true) {}

  std::string_view text() const { return text_; }
  bool is_field() const { return is_field_; }

 private:
  std::string_view text_;
  bool is_field_ = false;
};

template <size_t N, size_t M>
bool text_equal(const char (&a)[N], const char (&b)[M]) {
  return field(a).text() == field(b).text();
}

// Copies the source's characters and NUL; the destination's bytes after the NUL stay.
template <size_t N, size_t M>
void text_copy(char (&dst)[N], const char (&src)[M]) {
  static_assert(M <= N, "the source must fit the destination");
  std::string_view s = field(src).text();
  size_t n = s.size() < N ? s.size() : N - 1;
  memcpy(dst, s.data(), n);
  dst[n] = '\0';
}

// How many of `bytes` a field keeps when it holds at most `limit`: `limit`, or
// fewer where the cut would fall inside a UTF-8 character, which is then left
// out whole. Bytes that do not form UTF-8 count one each. Looks at no more than
// limit + 3 bytes.
size_t utf8_cut(std::string_view bytes, size_t limit);

// A field's text as a terminal may show it: every control byte (below 32 except
// tab, and 127) becomes '?', so that no stored escape sequence reaches the screen.
std::string masked(std::string_view text);

}  // namespace orvel
