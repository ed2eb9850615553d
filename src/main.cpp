// lzma2-chunks FILE OFFSET: lists the chunk headers of the LZMA2 stream that starts at the
// hexadecimal OFFSET in FILE.

#include "byte_input.h"
#include "chunk_walk.h"
#include "file_access.h"
#include "listing_writer.h"
#include "start_offset.h"

#include <cstdio>

namespace {

constexpr int exit_ok = 0;
constexpr int exit_failure = 1;
constexpr int exit_usage = 2;

int exit_status(walk_result result) {
  return result == walk_result::ok ? exit_ok : exit_failure;
}

} // namespace

int main(int argc, char **argv) {
  if (argc < 3) {
    std::fputs("usage: lzma2-chunks FILE OFFSET\n", stderr);
    return exit_usage;
  }
  std::FILE *file = open_input_file(argv[1]);
  if (file == nullptr)
    return exit_failure;

  const std::uint64_t start_offset = parse_start_offset(argv[2]);
  listing_writer out(stdout);
  out.offset_line(start_offset);
  byte_input input(fileno(file));
  const int status = exit_status(walk_chunks(input, start_offset, out));
  std::fclose(file);
  return status;
}
