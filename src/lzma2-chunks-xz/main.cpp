// lzma2-chunks-xz [--scan] [--structure] [-q] FILE: finds every .xz stream in FILE, lists
// the chunks of each of its blocks as lzma2-chunks would, and says which streams and blocks
// are intact.

#include "byte_input.h"
#include "command_line.h"
#include "file_access.h"
#include "listing_writer.h"
#include "xz_walk.h"

#include <cstdio>
#include <cstring>

namespace {

#if LZMA2_CHUNKS_DECODES
#define JUDGED                                                                                     \
  "decodes each block\n"                                                                           \
  "with liblzma, on every processor, to check it,"
#define BUILT ""
#else
#define JUDGED                                                                                     \
  "checks the structure\n"                                                                         \
  "of each block (this build has no liblzma to decode it),"
#define BUILT " (without liblzma: judges structure alone)"
#endif

constexpr command_line::program_texts texts = {
    "usage: lzma2-chunks-xz [--scan] [--structure] [-q] FILE\n",
    "Finds every .xz stream in FILE, walks each block by block, lists the chunk\n"
    "headers of each block as 'lzma2-chunks FILE OFFSET' does, " JUDGED "\n"
    "checks each stream against its index and footer, and says which streams and\n"
    "blocks are intact, and where the others are damaged. Nothing decoded is written.\n"
    "  --scan       search the whole file for streams even when it begins with one,\n"
    "               as in firmware images\n"
    "  --structure  check the structure alone, reading headers only: fast, but blind\n"
    "               to damage inside compressed data\n"
    "  -q, --quiet  print only the verdicts on streams and damaged blocks, and the\n"
    "               summary\n"
    "The manual page, lzma2-chunks-xz(1), describes the output and the exit status.\n",
    "lzma2-chunks-xz " LZMA2_CHUNKS_VERSION BUILT "\n"};

// Options, then FILE; '-' is standard input, any other argument that starts with '-' an
// option. False when the arguments are not those.
bool parse(int argc, char **argv, xz_walk_options &o, const char *&path) {
  for (int i = 1; i < argc; ++i) {
    const char *arg = argv[i];
    if (path == nullptr && std::strcmp(arg, "--scan") == 0)
      o.scan = true;
    else if (path == nullptr && std::strcmp(arg, "--structure") == 0)
      o.decode = false;
    else if (path == nullptr && command_line::is_option(arg, "-q", "--quiet"))
      o.verdicts_only = true;
    else if (path == nullptr && (arg[0] != '-' || arg[1] == '\0'))
      path = arg;
    else
      return false;
  }
  return path != nullptr;
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
  xz_walk_options options;
  const char *path = nullptr;
  if (!parse(argc, argv, options, path))
    return command_line::usage_error(texts);
  // A pipe is refused below: a named one is not waited on for a writer first.
  std::FILE *file = open_input_file(path, false);
  if (file == nullptr)
    return complain(path, "cannot be opened");
  // Damage is searched past by going back to the last good header, which needs a file read
  // by position.
  const std::optional<std::uint64_t> size = positional_size(fileno(file));
  if (!size)
    return complain(path, "is not a file that can be read at any position, such as a pipe");
  return exit_status(walk_xz_file(command_line::input_from(file), *size, options,
                                  command_line::standard_output()));
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
