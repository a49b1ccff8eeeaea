// Numbers in and out: input's digits counted past the ones that matter, output as %g.
#include "console/number.h"

#include <cfloat>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <string>

namespace orvel {

namespace {

int64_t saturated(int64_t v, int64_t bound) { return v > bound ? bound : v < -bound ? -bound : v; }

}  // namespace

void Decimal::keep(int c) { digits_[kept_++] = static_cast<char>(c); }

void Decimal::integer_digit(int c) {
  if (kept_ == 0 && c == '0') return;  // a leading zero changes nothing
  if (kept_ < kKept) return keep(c);
  sticky_ |= c != '0';
  scale_ = saturated(scale_ + 1, kSaturated);
}

void Decimal::fraction_digit(int c) {
  if (kept_ == 0 && c == '0') {
    scale_ = saturated(scale_ - 1, kSaturated);
    return;
  }
  if (kept_ < kKept) {
    keep(c);
    scale_ = saturated(scale_ - 1, kSaturated);
    return;
  }
  sticky_ |= c != '0';
}

void Decimal::exponent_digit(int c) {
  exponent_ = saturated(exponent_ * 10 + (c - '0'), kSaturated);
}

float Decimal::value() const {
  std::string text = negative_ ? "-" : "";
  if (kept_ == 0) {
    text += '0';
  } else {
    text.append(digits_, kept_);
    // One more digit, 1, stands for everything dropped: it puts the value just
    // above the kept digits and below their next step, as the dropped ones did.
    if (sticky_) text += '1';
    int64_t power = scale_ - (sticky_ ? 1 : 0) + (exponent_negative_ ? -exponent_ : exponent_);
    text += 'e' + std::to_string(power);
  }
  long double wide = strtold(text.c_str(), nullptr);
  // Clamped before the conversion, which is undefined for values out of range.
  if (std::fabs(wide) > FLT_MAX) return wide < 0 ? -FLT_MAX : FLT_MAX;
  return static_cast<float>(wide);
}

// General notation with 6 significant digits, as printf's %g; zero is 0
// whatever its sign, and a value that is not finite is +INF, -INF, +NAN or -NAN.
std::string format_number(float value) {
  if (value == 0) return "0";
  const char* sign = std::signbit(value) ? "-" : "+";
  if (std::isinf(value)) return std::string(sign) + "INF";
  if (std::isnan(value)) return std::string(sign) + "NAN";
  char out[32];
  snprintf(out, sizeof out, "%.6g", static_cast<double>(value));
  return out;
}

}  // namespace orvel
