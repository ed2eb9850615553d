#include "command_line.h"

#include "file_access.h"

#include <cstdio>
#include <cstring>

namespace command_line {

bool is_option(const char *arg, const char *short_name, const char *long_name) {
  return std::strcmp(arg, short_name) == 0 || std::strcmp(arg, long_name) == 0;
}

int print(const char *text, const char *more) {
  const int out = fileno(stdout);
  const bool written =
      write_all(out, text, std::strlen(text)) && write_all(out, more, std::strlen(more));
  return written ? exit_ok : exit_failure;
}

} // namespace command_line
