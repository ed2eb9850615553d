// lzma2-chunks FILE OFFSET: lists the chunk headers of the LZMA2 stream that starts at the
// hexadecimal OFFSET in FILE.

#include "byte_input.h"
#include "chunk_walk.h"
#include "line_format.h"
#include "start_offset.h"

#include <cstdio>

namespace {

constexpr int exit_ok = 0;
constexpr int exit_failure = 1;
constexpr int exit_usage = 2;

bool print_offset_line(std::uint64_t start_offset) {
  char line[max_line_length];
  const char *end = format_offset_line(line, start_offset);
  const auto length = static_cast<std::size_t>(end - line);
  return std::fwrite(line, 1, length, stdout) == length;
}

// Output is buffered, so a full disk may only show when the last bytes go out.
bool flush_output() {
  return std::fflush(stdout) == 0 && std::ferror(stdout) == 0;
}

int exit_status(walk_result result, bool output_written) {
  if (result != walk_result::ok || !output_written)
    return exit_failure;
  return exit_ok;
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
  const bool offset_written = print_offset_line(start_offset);
  byte_input input(fileno(file));
  const walk_result result = walk_chunks(input, start_offset);
  const bool output_written = flush_output() && offset_written;
  std::fclose(file);
  return exit_status(result, output_written);
}
