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

constexpr command_line::program_texts texts = {
    "usage: lzma2-chunks FILE OFFSET\n",
    "Lists the chunk headers of the LZMA2 stream that starts at the hexadecimal\n"
    "OFFSET in FILE ('-' for standard input), without decompressing anything.\n"
    "The manual page, lzma2-chunks(1), describes the output, how to find OFFSET\n"
    "and the exit status.\n",
    "lzma2-chunks " LZMA2_CHUNKS_VERSION "\n"};

int exit_status(walk_result result) {
  return result == walk_result::ok ? command_line::exit_ok : command_line::exit_failure;
}

int run(int argc, char **argv) {
  int status = 0;
  if (command_line::answered_help_or_version(argc, argv, texts, status))
    return status;
  if (argc < 3)
    return command_line::usage_error(texts);
  std::FILE *file = open_input_file(argv[1]);
  if (file == nullptr)
    return command_line::exit_failure;

  const std::uint64_t start_offset = parse_start_offset(argv[2]);
  listing_writer &out = command_line::standard_output();
  out.offset_line(start_offset);
  return exit_status(walk_chunks(command_line::input_from(file), start_offset, out));
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
