// Numbers: a decimal taken digit by digit in constant memory and rounded to a float, and a float
// printed.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace orvel {

// Keeps what can still change the float: the sign, the first kKept significant
// digits, whether any nonzero digit came after them, and where the point
// stands. A number of any length takes the same few hundred bytes.
class Decimal {
 public:
  void negate() { negative_ = true; }
  void integer_digit(int c);
  void fraction_digit(int c);
  void exponent_digit(int c);
  void negate_exponent() { exponent_negative_ = true; }

  // The exact value rounded to a 64-bit mantissa, then to single precision;
  // beyond the single range the largest value with the number's sign.
  float value() const;

 private:
  // A 64-bit-mantissa midpoint anywhere near the float range has well under
  // 300 significant digits; past 800 a dropped digit can only break a tie it
  // could never have met, and the sticky digit keeps that it was there.
  static constexpr size_t kKept = 800;
  // Far beyond any exponent strtold can tell from infinity or zero, and far
  // from overflowing when scale and exponent are added.
  static constexpr int64_t kSaturated = int64_t{1} << 40;

  void keep(int c);

  bool negative_ = false;
  char digits_[kKept];
  size_t kept_ = 0;
  bool sticky_ = false;  // a nonzero digit was dropped
  int64_t scale_ = 0;    // the value is digits_ times ten to this
  int64_t exponent_ = 0;
  bool exponent_negative_ = false;
};

// A float as number output prints it: six significant digits, plain or
// exponential, as printf's %g.
std::string format_number(float value);

}  // namespace orvel
