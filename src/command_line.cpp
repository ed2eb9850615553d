#include "command_line.h"

#include "file_access.h"

#include <cstdio>
#include <cstring>

namespace command_line {

bool is_option(const char *arg, const char *short_name, const char *long_name) {
  return std::strcmp(arg, short_name) == 0 || std::strcmp(arg, long_name) == 0;
}

namespace {

// Writes the texts to standard output: exit_ok, or exit_failure when they cannot be written.
int print(const char *text, const char *more = "") {
  const int out = fileno(stdout);
  const bool written =
      write_all(out, text, std::strlen(text)) && write_all(out, more, std::strlen(more));
  return written ? exit_ok : exit_failure;
}

} // namespace

bool answered_help_or_version(int argc, char **argv, const program_texts &texts, int &status) {
  if (argc == 2 && is_option(argv[1], "-h", "--help"))
    status = print(texts.usage, texts.description);
  else if (argc == 2 && is_option(argv[1], "-V", "--version"))
    status = print(texts.version);
  else
    return false;
  return true;
}

int usage_error(const program_texts &texts) {
  std::fputs(texts.usage, stderr);
  return exit_usage;
}

// Static: the two 64 KiB buffers in them would not fit a small stack.
listing_writer &standard_output() {
  static listing_writer out(fileno(stdout), is_terminal(fileno(stdout)));
  return out;
}

byte_input &input_from(std::FILE *file) {
  static byte_input input(fileno(file));
  return input;
}

} // namespace command_line
