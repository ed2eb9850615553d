#include "test_support.h"

#include <gtest/gtest.h>

#include <cinttypes>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>
#include <sys/mman.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <tuple>
#include <unistd.h>

namespace {

// Windows text mode writes "\n" as "\r\n".
std::string from_crlf(const std::string &text) {
  std::string s;
  for (std::size_t i = 0; i < text.size(); ++i)
    if (text.compare(i, 2, "\r\n") != 0)
      s += text[i] == '\n' && (i == 0 || text[i - 1] != '\r') ? '\r' : text[i];
  return s;
}

} // namespace

temp_dir::temp_dir() {
  std::string pattern = (std::filesystem::temp_directory_path() / "lzma2-chunks.XXXXXX").string();
  if (mkdtemp(pattern.data()) == nullptr)
    ADD_FAILURE() << "cannot make a temporary directory";
  path_ = pattern;
}

temp_dir::~temp_dir() {
  std::error_code ignored;
  std::filesystem::remove_all(path_, ignored);
}

std::string temp_dir::write(const std::string &name, const std::string &contents) const {
  std::filesystem::create_directories(std::filesystem::path(path(name)).parent_path());
  std::ofstream file(path(name), std::ios::binary | std::ios::trunc);
  EXPECT_TRUE(file.write(contents.data(), static_cast<std::streamsize>(contents.size())).flush())
      << path(name);
  return path(name);
}

std::vector<std::string> io_fault_env(const std::string &fault) {
  return {"LD_PRELOAD=" IO_FAULTS_LIBRARY, "IO_FAULT=" + fault,
          "ASAN_OPTIONS=verify_asan_link_order=0"};
}

std::string read_file(const std::string &path) {
  std::ifstream file(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()};
}

std::pair<std::uint64_t, std::uint64_t> read_and_write_calls(int pid, std::uint64_t *bytes_read) {
  const std::string io = read_file("/proc/" + std::to_string(pid) + "/io");
  std::pair<std::uint64_t, std::uint64_t> calls;
  std::uint64_t read = 0;
  std::sscanf(io.c_str(), "rchar: %" SCNu64 " wchar: %*u syscr: %" SCNu64 " syscw: %" SCNu64, &read,
              &calls.first, &calls.second);
  if (bytes_read != nullptr)
    *bytes_read = read;
  return calls;
}

namespace {

process_output run_program(const char *command_variable, const char *binary,
                           const std::vector<std::string> &args, const tool_input &in,
                           const std::string &stdout_path, const std::vector<std::string> &env) {
  const char *prefix = std::getenv(command_variable);
  std::istringstream words(prefix != nullptr && *prefix != '\0' ? prefix : binary);
  std::vector<std::string> command{std::istream_iterator<std::string>(words), {}};
  command.insert(command.end(), args.begin(), args.end());
  std::vector<char *> argv;
  for (std::string &word : command)
    argv.push_back(word.data());
  argv.push_back(nullptr);

  const int out_fd = memfd_create("stdout", 0);
  const int err_fd = memfd_create("stderr", 0);
  int in_ends[2];
  if (out_fd < 0 || err_fd < 0 || pipe(in_ends) != 0)
    return {-1, "", ""};
  const pid_t pid = fork();
  if (pid == 0) {
    std::signal(SIGPIPE, SIG_DFL);
    if (in.path != nullptr && *in.path == '\0')
      close(0);
    else
      dup2(in.path == nullptr ? in_ends[0]
           : *in.path == '>'  ? open(in.path + 1, O_WRONLY)
                              : open(in.path, O_RDONLY),
           0);
    close(in_ends[1]);
    dup2(stdout_path.empty() ? out_fd : open(stdout_path.c_str(), O_WRONLY), 1);
    dup2(err_fd, 2);
    // A walk stuck in a loop is stopped by SIGXFSZ instead of filling memory with output.
    const rlimit output_limit{std::uint64_t{8} << 20, std::uint64_t{8} << 20};
    setrlimit(RLIMIT_FSIZE, &output_limit);
    for (const std::string &setting : env)
      putenv(const_cast<char *>(setting.c_str()));
    execvp(argv[0], argv.data());
    _exit(127);
  }
  close(in_ends[0]);
  // The tool may never read its standard input; a closed pipe must not kill the test.
  std::signal(SIGPIPE, SIG_IGN);
  std::FILE *pipe_in = fdopen(in_ends[1], "wb");
  std::fwrite(in.bytes.data(), 1, in.bytes.size(), pipe_in);
  std::fclose(pipe_in);
  siginfo_t ended{};
  waitid(P_PID, static_cast<id_t>(pid), &ended, WEXITED | WNOWAIT);
  process_output result{-1, read_file("/proc/self/fd/" + std::to_string(out_fd)),
                        read_file("/proc/self/fd/" + std::to_string(err_fd))};
  std::tie(result.reads, result.writes) = read_and_write_calls(pid, &result.bytes_read);
  int status = 0;
  waitpid(pid, &status, 0);
  result.exit_status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  const char *crlf = std::getenv("LZMA2_CHUNKS_TEST_CRLF");
  if (crlf != nullptr && std::string(crlf) == "1") {
    result.out = from_crlf(result.out);
    result.err = from_crlf(result.err);
  }
  close(out_fd);
  close(err_fd);
  return result;
}

} // namespace

process_output run_tool(const std::vector<std::string> &args, const tool_input &in,
                        const std::string &stdout_path, const std::vector<std::string> &env) {
  return run_program("LZMA2_CHUNKS_TEST_COMMAND", LZMA2_CHUNKS_BINARY, args, in, stdout_path, env);
}

process_output run_xz_tool(const std::vector<std::string> &args, const tool_input &in,
                           const std::vector<std::string> &env) {
  return run_program("LZMA2_CHUNKS_XZ_TEST_COMMAND", LZMA2_CHUNKS_XZ_BINARY, args, in, "", env);
}

std::string stored_chunk_lines(std::size_t count, std::size_t payload, std::uint64_t from) {
  std::string lines;
  char line[48];
  for (std::size_t i = 0; i < count; ++i)
    lines.append(line, static_cast<std::size_t>(
                           std::snprintf(line, sizeof line, "%08" PRIX64 ": 0%d u=%zu\n",
                                         from + (3 + payload) * i, 1 + int(i % 2), payload)));
  return lines;
}

std::string hex(std::uint64_t value) {
  char text[20];
  std::snprintf(text, sizeof text, "%llX", static_cast<unsigned long long>(value));
  return text;
}
