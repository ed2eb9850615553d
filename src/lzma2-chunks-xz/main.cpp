// lzma2-chunks-xz [--scan] FILE: finds every .xz stream in FILE, lists the chunks of each
// of its blocks as lzma2-chunks would, and says which streams are intact.

#include "byte_input.h"
#include "command_line.h"
#include "file_access.h"
#include "listing_writer.h"
#include "xz_walk.h"

#include <cstdio>
#include <cstring>

namespace {

using command_line::exit_failure;
using command_line::exit_ok;
using command_line::exit_usage;
using command_line::is_option;
using command_line::print;

constexpr const char *usage = "usage: lzma2-chunks-xz [--scan] FILE\n";

constexpr const char *description =
    "Finds every .xz stream in FILE, walks each block by block, lists the chunk\n"
    "headers of each block as 'lzma2-chunks FILE OFFSET' does, checks each stream\n"
    "against its index and footer, and says which streams are intact. Nothing is\n"
    "decompressed. --scan searches the whole file for streams even when it begins\n"
    "with one, as in firmware images. The manual page, lzma2-chunks-xz(1), describes\n"
    "the output and the exit status.\n";

int complain(const char *path, const char *what) {
  const int err = fileno(stderr);
  const char *parts[] = {"lzma2-chunks-xz: ", path, ": ", what, "\n"};
  for (const char *part : parts)
    write_all(err, part, std::strlen(part));
  return exit_failure;
}

int exit_status(xz_walk_result result) {
  return result == xz_walk_result::all_intact ? exit_ok : exit_failure;
}

int run(int argc, char **argv) {
  if (argc == 2 && is_option(argv[1], "-h", "--help"))
    return print(usage, description);
  if (argc == 2 && is_option(argv[1], "-V", "--version"))
    return print("lzma2-chunks-xz " LZMA2_CHUNKS_VERSION "\n");
  const bool scan = argc == 3 && std::strcmp(argv[1], "--scan") == 0;
  if (argc != 2 + (scan ? 1 : 0) || (!scan && argv[1][0] == '-' && argv[1][1] != '\0')) {
    std::fputs(usage, stderr);
    return exit_usage;
  }
  const char *path = argv[argc - 1];
  std::FILE *file = open_input_file(path);
  if (file == nullptr)
    return complain(path, "cannot be opened");
  // Damage is searched past by going back to the last good header, which needs a file read
  // by position.
  const std::optional<std::uint64_t> size = positional_size(fileno(file));
  if (!size)
    return complain(path, "is not a file that can be read at any position, such as a pipe");

  const int out_fd = fileno(stdout);
  // Static: the two 64 KiB buffers in them would not fit a small stack.
  static listing_writer out(out_fd, is_terminal(out_fd));
  static byte_input input(fileno(file));
  const xz_walk_result result = walk_xz_file(input, *size, scan, out);
  if (result == xz_walk_result::no_memory)
    return complain(path, "has more blocks in a stream than there is memory to keep");
  return exit_status(result);
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
