#include "listing_parser.h"

#include <algorithm>
#include <cstring>

namespace {

struct reader {
  const std::string &text;
  std::size_t at = 0;

  bool take(const char *literal) {
    const std::size_t n = std::strlen(literal);
    if (text.compare(at, n, literal) != 0)
      return false;
    at += n;
    return true;
  }

  // At least min_digits digits, upper-case for hexadecimal, and a leading zero only where
  // the number is padded to min_digits, as printf's "%0<min_digits>X" and "%i" print.
  bool number(std::uint64_t &value, unsigned base, std::size_t min_digits, std::size_t max_digits) {
    std::size_t n = 0;
    value = 0;
    for (; at + n < text.size() && n < max_digits; ++n) {
      const char c = text[at + n];
      const unsigned digit = c >= '0' && c <= '9'   ? c - '0'
                             : c >= 'A' && c <= 'F' ? c - 'A' + 10
                                                    : 99;
      if (digit >= base)
        break;
      value = value * base + digit;
    }
    const bool ok = n >= min_digits && (n == min_digits || text[at] != '0');
    at += n;
    return ok;
  }
};

bool is_stored(const listed_chunk &c) {
  return c.shown == 0x01 || c.shown == 0x02;
}

} // namespace

const char *parse_listing(const std::string &text, bool with_offset_line, listing &out) {
  reader r{text};
  out = listing{};
  if (with_offset_line &&
      !(r.take("ofs=") && r.number(out.start_offset, 16, 1, 16) && r.take("\n")))
    return "no offset line";
  for (;;) {
    listed_chunk c;
    if (!r.number(c.offset, 16, 8, 16) || !r.take(": "))
      return "line does not start with a position";
    if (!r.number(c.shown, 16, 2, 8) || (c.shown > 0xFF && c.shown != 0xFFFFFFFF))
      return "neither a byte nor FFFFFFFF after the position";
    if (!r.take(" u=")) {
      if (!r.take(" ") || r.at != text.size())
        return "closing line not last, or not ending in one space";
      out.closing = c;
      return nullptr;
    }
    const bool with_props = c.shown == 0xC0 || c.shown == 0xE0;
    if (!is_stored(c) && c.shown != 0x80 && c.shown != 0xA0 && !with_props)
      return "chunk line shows no chunk kind";
    if (!r.number(c.unpacked_size, 10, 1, 10))
      return "chunk line without u=";
    if (!is_stored(c) && !(r.take(" p=") && r.number(c.packed_size, 10, 1, 10)))
      return "compressed chunk line without p=";
    if (with_props && !(r.take(" s=") && r.number(c.props, 16, 2, 2)))
      return "chunk line of class C0 or E0 without s=";
    if (!r.take("\n"))
      return "chunk line does not end where its kind's line ends";
    out.chunks.push_back(c);
  }
}

const char *check_tiling(const listing &l, std::uint64_t from, std::uint64_t file_size) {
  for (const listed_chunk &c : l.chunks) {
    if (c.offset != from)
      return "chunk does not start where the one before it ends";
    const std::uint64_t header_end = c.offset + (is_stored(c) ? 3 : c.shown >= 0xC0 ? 6 : 5);
    from = std::min(header_end, file_size) + (is_stored(c) ? c.unpacked_size : c.packed_size);
  }
  return l.closing.offset == from ? nullptr : "closing line not where the last chunk ends";
}
