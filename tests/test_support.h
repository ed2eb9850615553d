#ifndef LZMA2_CHUNKS_TEST_SUPPORT_H
#define LZMA2_CHUNKS_TEST_SUPPORT_H

// What the gtest suites share: files for the binary to read, and running the binary.

#include "listing_parser.h"
#include "lzma2_data.h"

#include <cstdint>
#include <string>
#include <vector>

// A fresh directory under the temporary directory, removed with everything in it. Inputs
// are real files there, which an emulated binary can open as well as a native one.
class temp_dir {
public:
  temp_dir();
  ~temp_dir();
  temp_dir(const temp_dir &) = delete;
  temp_dir &operator=(const temp_dir &) = delete;
  std::string path(const std::string &name) const { return path_ + "/" + name; }
  // Writes the file and gives its path.
  std::string write(const std::string &name, const std::string &contents) const;

private:
  std::string path_;
};

struct process_output {
  int exit_status; // -1 when the process did not exit normally
  std::string out;
  std::string err;
};

// Runs the binary under test with the arguments: the command prefix in
// LZMA2_CHUNKS_TEST_COMMAND (words split at white space, such as an emulator and a
// cross-built binary), else this build's binary. Standard input comes from stdin_contents
// through a pipe; standard output goes to stdout_path if given, else into `out`; env adds
// NAME=VALUE settings. With LZMA2_CHUNKS_TEST_CRLF=1 the binary must end its lines in
// "\r\n" on both outputs, as Windows text mode writes them; `out` and `err` show them as
// "\n" (and a bare "\n" as "\r", so that it fails).
process_output run_tool(const std::vector<std::string> &args,
                        const std::string &stdin_contents = "", const std::string &stdout_path = "",
                        const std::vector<std::string> &env = {});

std::string read_file(const std::string &path);

// Upper-case hexadecimal, as OFFSET and the offset line write it.
std::string hex(std::uint64_t value);

// Names a table's tests after its name column.
inline const auto case_name = [](const auto &info) { return std::string(info.param.name); };

#endif
