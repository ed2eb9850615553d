#include "listing_writer.h"

#include "file_access.h"

#include <cstring>

using line_format::put_hex;
using line_format::put_text;

bool listing_writer::offset_line(std::uint64_t start_offset) {
  char *dst = put_hex(put_text(buffer_ + used_, "ofs="), start_offset, 1);
  *dst++ = '\n';
  return end_line(dst);
}

bool listing_writer::closing_line(const chunk_header &header) {
  char *dst = put_text(put_hex(buffer_ + used_, header.offset, 8), ": ");
  // The control byte as an unsigned 32-bit value, so the end of the input shows FFFFFFFF.
  dst = put_hex(dst, static_cast<std::uint32_t>(header.control), 2);
  *dst++ = ' ';
  return end_line(dst);
}

bool listing_writer::text(const char *data, std::size_t length) {
  if (used_ + length > buffer_size && !flush())
    return false;
  if (length > buffer_size) {
    failed_ = !write_all(fd_, data, length);
    return !failed_;
  }
  std::memcpy(buffer_ + used_, data, length);
  return end_line(buffer_ + used_ + length);
}

bool listing_writer::flush() {
  if (used_ != 0 && !write_all(fd_, buffer_, used_))
    failed_ = true;
  used_ = 0;
  return !failed_;
}
