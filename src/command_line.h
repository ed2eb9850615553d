#ifndef LZMA2_CHUNKS_COMMAND_LINE_H
#define LZMA2_CHUNKS_COMMAND_LINE_H

// What both programs' mains share: their exit statuses, and the answers to --help and
// --version.

namespace command_line {

constexpr int exit_ok = 0;
constexpr int exit_failure = 1;
constexpr int exit_usage = 2;

// True when arg is the option in either form, such as -h or --help.
bool is_option(const char *arg, const char *short_name, const char *long_name);

// Writes the texts to standard output: exit_ok, or exit_failure when they cannot be written.
int print(const char *text, const char *more = "");

} // namespace command_line

#endif
