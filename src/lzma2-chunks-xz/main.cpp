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

constexpr command_line::program_texts texts = {
    "usage: lzma2-chunks-xz [--scan] FILE\n",
    "Finds every .xz stream in FILE, walks each block by block, lists the chunk\n"
    "headers of each block as 'lzma2-chunks FILE OFFSET' does, checks each stream\n"
    "against its index and footer, and says which streams are intact. Nothing is\n"
    "decompressed. --scan searches the whole file for streams even when it begins\n"
    "with one, as in firmware images. The manual page, lzma2-chunks-xz(1), describes\n"
    "the output and the exit status.\n",
    "lzma2-chunks-xz " LZMA2_CHUNKS_VERSION "\n"};

struct options {
  const char *path = nullptr;
  bool scan = false;
};

// Options, then FILE; '-' is standard input, any other argument that starts with '-' an
// option. False when the arguments are not those.
bool parse(int argc, char **argv, options &o) {
  for (int i = 1; i < argc; ++i) {
    const char *arg = argv[i];
    if (o.path == nullptr && std::strcmp(arg, "--scan") == 0)
      o.scan = true;
    else if (o.path == nullptr && (arg[0] != '-' || arg[1] == '\0'))
      o.path = arg;
    else
      return false;
  }
  return o.path != nullptr;
}

int complain(const char *path, const char *what) {
  const int err = fileno(stderr);
  const char *parts[] = {"lzma2-chunks-xz: ", path, ": ", what, "\n"};
  for (const char *part : parts)
    write_all(err, part, std::strlen(part));
  return command_line::exit_failure;
}

int exit_status(xz_walk_result result) {
  return result == xz_walk_result::all_intact ? command_line::exit_ok : command_line::exit_failure;
}

int run(int argc, char **argv) {
  int status = 0;
  if (command_line::answered_help_or_version(argc, argv, texts, status))
    return status;
  options o;
  if (!parse(argc, argv, o))
    return command_line::usage_error(texts);
  // A pipe is refused below: a named one is not waited on for a writer first.
  std::FILE *file = open_input_file(o.path, false);
  if (file == nullptr)
    return complain(o.path, "cannot be opened");
  // Damage is searched past by going back to the last good header, which needs a file read
  // by position.
  const std::optional<std::uint64_t> size = positional_size(fileno(file));
  if (!size)
    return complain(o.path, "is not a file that can be read at any position, such as a pipe");
  return exit_status(
      walk_xz_file(command_line::input_from(file), *size, o.scan, command_line::standard_output()));
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
