#ifndef LZMA2_CHUNKS_COMMAND_LINE_H
#define LZMA2_CHUNKS_COMMAND_LINE_H

// What both programs' mains share: their exit statuses, the answers to --help and
// --version, and the usage error.

#include "byte_input.h"
#include "listing_writer.h"

#include <cstdio>

namespace command_line {

constexpr int exit_ok = 0;
constexpr int exit_failure = 1;
constexpr int exit_usage = 2;

// The texts a program answers with.
struct program_texts {
  const char *usage;       // "usage: NAME ...\n"
  const char *description; // what --help says after the usage
  const char *version;     // "NAME VERSION\n"
};

// True when arg is the option in either form, such as -h or --help.
bool is_option(const char *arg, const char *short_name, const char *long_name);

// True when the only argument asks for help or the version, with `status` set once the
// answer is written to standard output.
bool answered_help_or_version(int argc, char **argv, const program_texts &texts, int &status);

// Writes the usage to standard error: exit_usage.
int usage_error(const program_texts &texts);

// The listing on standard output, and the input read from `file`: one of each for the run.
listing_writer &standard_output();
byte_input &input_from(std::FILE *file);

} // namespace command_line

#endif
