// lzma2-chunks FILE OFFSET: lists the chunk headers of the LZMA2 stream that starts at the
// hexadecimal OFFSET in FILE.

#include "byte_input.h"
#include "chunk_walk.h"
#include "command_line.h"
#include "file_access.h"
#include "listing_writer.h"
#include "start_offset.h"

#include <cstdio>
#include <cstring>

namespace {

using command_line::exit_failure;
using command_line::exit_ok;
using command_line::exit_usage;
using command_line::is_option;
using command_line::print;

constexpr const char *usage = "usage: lzma2-chunks FILE OFFSET\n";

constexpr const char *description =
    "Lists the chunk headers of the LZMA2 stream that starts at the hexadecimal\n"
    "OFFSET in FILE ('-' for standard input), without decompressing anything.\n"
    "The manual page, lzma2-chunks(1), describes the output, how to find OFFSET\n"
    "and the exit status.\n";

int exit_status(walk_result result) {
  return result == walk_result::ok ? exit_ok : exit_failure;
}

int run(int argc, char **argv) {
  if (argc == 2 && is_option(argv[1], "-h", "--help"))
    return print(usage, description);
  if (argc == 2 && is_option(argv[1], "-V", "--version"))
    return print("lzma2-chunks " LZMA2_CHUNKS_VERSION "\n");
  if (argc < 3) {
    std::fputs(usage, stderr);
    return exit_usage;
  }
  std::FILE *file = open_input_file(argv[1]);
  if (file == nullptr)
    return exit_failure;

  const std::uint64_t start_offset = parse_start_offset(argv[2]);
  const int out_fd = fileno(stdout);
  // Static: the two 64 KiB buffers in them would not fit a small stack.
  static listing_writer out(out_fd, is_terminal(out_fd));
  static byte_input input(fileno(file));
  out.offset_line(start_offset);
  return exit_status(walk_chunks(input, start_offset, out));
}

} // namespace

#ifdef _WIN32
int wmain(int argc, wchar_t **wide_argv) {
  return run_with_utf8_arguments(argc, wide_argv, run);
}
#else
int main(int argc, char **argv) {
  return run(argc, argv);
}
#endif
