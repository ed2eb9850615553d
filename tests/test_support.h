#ifndef LZMA2_CHUNKS_TEST_SUPPORT_H
#define LZMA2_CHUNKS_TEST_SUPPORT_H

// What the gtest suites share: files for the binary to read, and running the binary.

#include "listing_parser.h"
#include "lzma2_data.h"

#include <cstdint>
#include <ostream>
#include <string>
#include <utility>
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
  // Writes the file, and the folders it is in, and gives its path.
  std::string write(const std::string &name, const std::string &contents) const;

private:
  std::string path_;
};

struct process_output {
  int exit_status; // -1 when the process did not exit normally
  std::string out;
  std::string err;
  std::uint64_t reads = 0; // the process's read and write calls, as the kernel counts them
  std::uint64_t writes = 0;
  std::uint64_t bytes_read = 0; // by those read calls
};

// Standard input for run_tool: bytes through a pipe, or else the file at `path`, opened for
// reading, or only for writing after a '>' (">/dev/null"); "" for a closed standard input.
struct tool_input {
  tool_input(std::string pipe_bytes = "", const char *file = nullptr)
      : bytes(std::move(pipe_bytes)), path(file) {}
  std::string bytes;
  const char *path;
};

// Runs the binary under test with the arguments: the command prefix in
// LZMA2_CHUNKS_TEST_COMMAND (words split at white space, such as an emulator and a
// cross-built binary), else this build's binary. Standard output goes to stdout_path if
// given, else into `out`; env adds NAME=VALUE settings. With LZMA2_CHUNKS_TEST_CRLF=1 the binary
// must end its lines in
// "\r\n" on both outputs, as Windows text mode writes them; `out` and `err` show them as
// "\n" (and a bare "\n" as "\r", so that it fails).
process_output run_tool(const std::vector<std::string> &args, const tool_input &in = {},
                        const std::string &stdout_path = "",
                        const std::vector<std::string> &env = {});

// The same for lzma2-chunks-xz, whose command prefix is in LZMA2_CHUNKS_XZ_TEST_COMMAND.
process_output run_xz_tool(const std::vector<std::string> &args, const tool_input &in = {},
                           const std::vector<std::string> &env = {});

// The settings that preload io_faults.c with the fault named, as run_tool's env; a sanitized
// build's runtime must let a library come before it.
std::vector<std::string> io_fault_env(const std::string &fault);

std::string read_file(const std::string &path);

// The read and the write calls of a process that has ended but is not reaped yet, as the
// kernel counts them, and the bytes it read.
std::pair<std::uint64_t, std::uint64_t> read_and_write_calls(int pid,
                                                             std::uint64_t *bytes_read = nullptr);

// Upper-case hexadecimal, as OFFSET and the offset line write it.
std::string hex(std::uint64_t value);

// The lines listed for stored_chunks(count, payload) at position `from`.
std::string stored_chunk_lines(std::size_t count, std::size_t payload, std::uint64_t from);

// Names a table's case in test output instead of dumping its bytes. A test file brings it
// into its own namespace with `using test_table::operator<<;`, where gtest looks for it.
namespace test_table {
template <class Case> auto operator<<(std::ostream &os, const Case &c) -> decltype(c.name, os) {
  return os << c.name;
}
} // namespace test_table

// Names a table's tests after its name column.
inline const auto case_name = [](const auto &info) { return std::string(info.param.name); };

#endif
