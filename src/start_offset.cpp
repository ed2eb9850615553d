#include "start_offset.h"

namespace {

int hex_digit_value(char c) {
  if (c >= '0' && c <= '9')
    return c - '0';
  if (c >= 'a' && c <= 'f')
    return c - 'a' + 10;
  if (c >= 'A' && c <= 'F')
    return c - 'A' + 10;
  return -1;
}

bool is_space(char c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

} // namespace

std::uint64_t parse_start_offset(const char *text) {
  const char *p = text;
  while (is_space(*p))
    ++p;
  bool negative = false;
  if (*p == '+' || *p == '-') {
    negative = *p == '-';
    ++p;
  }
  if (p[0] == '0' && (p[1] == 'x' || p[1] == 'X') && hex_digit_value(p[2]) >= 0)
    p += 2;

  std::uint64_t value = 0;
  int significant_digits = 0;
  for (int digit = hex_digit_value(*p); digit >= 0; digit = hex_digit_value(*++p)) {
    if (significant_digits == 0 && digit == 0)
      continue;
    if (++significant_digits > 16) {
      value = UINT64_MAX;
      continue;
    }
    value = value << 4 | static_cast<std::uint64_t>(digit);
  }

  if (significant_digits <= 8) {
    const auto narrow = static_cast<std::uint32_t>(value);
    return negative ? static_cast<std::uint32_t>(0u - narrow) : narrow;
  }
  return negative ? 0 - value : value;
}
