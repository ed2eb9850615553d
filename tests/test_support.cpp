#include "test_support.h"

#include <gtest/gtest.h>
#include <lzma.h>

#include <cinttypes>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <random>
#include <sstream>
#include <sys/mman.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace {

void write_all(int fd, const std::string &data) {
  std::size_t done = 0;
  while (done < data.size()) {
    const ssize_t n = write(fd, data.data() + done, data.size() - done);
    if (n <= 0)
      return;
    done += static_cast<std::size_t>(n);
  }
}

std::string read_all_from_start(int fd) {
  std::string data;
  char buffer[65536];
  off_t at = 0;
  for (ssize_t n; (n = pread(fd, buffer, sizeof buffer, at)) > 0; at += n)
    data.append(buffer, static_cast<std::size_t>(n));
  return data;
}

walk_output walk_input(byte_input &input, std::uint64_t start_offset) {
  char *text = nullptr;
  std::size_t length = 0;
  std::FILE *out = open_memstream(&text, &length);
  walk_result result{};
  {
    listing_writer writer(out);
    result = walk_chunks(input, start_offset, writer);
  }
  std::fclose(out);
  walk_output output{std::string(text, length), result};
  std::free(text);
  return output;
}

// A line of the tool's output, taken apart; false if it is not one of the known shapes.
bool parse_chunk_line(const std::string &line, listed_chunk &chunk) {
  char hex_offset[32];
  unsigned long long unpacked = 0;
  unsigned long long packed = 0;
  unsigned props = 0;
  int end = 0;
  const char *s = line.c_str();
  if (std::sscanf(s, "%31[0-9A-F]: %2X u=%llu p=%llu s=%2X%n", hex_offset, &chunk.shown, &unpacked,
                  &packed, &props, &end) == 5 ||
      std::sscanf(s, "%31[0-9A-F]: %2X u=%llu p=%llu%n", hex_offset, &chunk.shown, &unpacked,
                  &packed, &end) == 4) {
    chunk.has_packed_size = true;
  } else if (std::sscanf(s, "%31[0-9A-F]: %2X u=%llu%n", hex_offset, &chunk.shown, &unpacked,
                         &end) != 3) {
    return false;
  }
  chunk.offset = std::strtoull(hex_offset, nullptr, 16);
  chunk.unpacked_size = unpacked;
  chunk.packed_size = packed;
  return static_cast<std::size_t>(end) == line.size() && std::strlen(hex_offset) >= 8;
}

} // namespace

std::string bytes(std::initializer_list<int> values) {
  std::string s;
  for (int v : values)
    s.push_back(static_cast<char>(v));
  return s;
}

memory_file::memory_file(const std::string &contents) : fd_(memfd_create("input", 0)) {
  write_all(fd_, contents);
}

memory_file::~memory_file() {
  close(fd_);
}

std::string memory_file::path() const {
  return "/proc/" + std::to_string(getpid()) + "/fd/" + std::to_string(fd_);
}

walk_output walk_file(const std::string &contents, std::uint64_t start_offset) {
  memory_file file(contents);
  byte_input input(file.fd());
  return walk_input(input, start_offset);
}

walk_output walk_pipe(const std::string &contents, std::uint64_t start_offset) {
  int ends[2];
  if (pipe(ends) != 0)
    return {"", walk_result::read_error};
  std::thread feeder([&] {
    write_all(ends[1], contents);
    close(ends[1]);
  });
  byte_input input(ends[0]);
  walk_output output = walk_input(input, start_offset);
  // The walk may stop before the end; drain so the feeder can finish.
  char sink[65536];
  while (read(ends[0], sink, sizeof sink) > 0) {
  }
  feeder.join();
  close(ends[0]);
  return output;
}

process_output run_tool(const std::vector<std::string> &args, const std::string &stdin_contents,
                        const std::string &stdout_path) {
  const int out_fd = memfd_create("stdout", 0);
  const int err_fd = memfd_create("stderr", 0);
  int in_ends[2];
  if (pipe(in_ends) != 0)
    return {-1, "", ""};
  const pid_t pid = fork();
  if (pid == 0) {
    std::signal(SIGPIPE, SIG_DFL);
    dup2(in_ends[0], 0);
    close(in_ends[0]);
    close(in_ends[1]);
    if (stdout_path.empty()) {
      dup2(out_fd, 1);
    } else {
      const int fd = open(stdout_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
      dup2(fd, 1);
    }
    dup2(err_fd, 2);
    std::vector<char *> argv;
    static char binary[] = LZMA2_CHUNKS_BINARY;
    argv.push_back(binary);
    for (const std::string &a : args)
      argv.push_back(const_cast<char *>(a.c_str()));
    argv.push_back(nullptr);
    execv(binary, argv.data());
    _exit(127);
  }
  close(in_ends[0]);
  // The tool may never read its standard input; a closed pipe must not kill the test.
  std::signal(SIGPIPE, SIG_IGN);
  write_all(in_ends[1], stdin_contents);
  close(in_ends[1]);
  int status = 0;
  waitpid(pid, &status, 0);
  process_output result{WIFEXITED(status) ? WEXITSTATUS(status) : -1, read_all_from_start(out_fd),
                        read_all_from_start(err_fd)};
  close(out_fd);
  close(err_fd);
  return result;
}

listing parse_listing(const std::string &text, bool with_offset_line) {
  listing result;
  std::size_t at = 0;
  if (with_offset_line) {
    const std::size_t end = text.find('\n');
    EXPECT_EQ(text.compare(0, 4, "ofs="), 0) << text;
    EXPECT_NE(end, std::string::npos);
    result.start_offset = std::strtoull(text.c_str() + 4, nullptr, 16);
    at = end + 1;
  }
  for (std::size_t end; (end = text.find('\n', at)) != std::string::npos; at = end + 1) {
    listed_chunk chunk;
    const std::string line = text.substr(at, end - at);
    EXPECT_TRUE(parse_chunk_line(line, chunk)) << "not a chunk line: " << line;
    result.chunks.push_back(chunk);
  }
  const std::string closing = text.substr(at);
  char hex_offset[32];
  int end = 0;
  const bool parsed = std::sscanf(closing.c_str(), "%31[0-9A-F]: %X %n", hex_offset,
                                  &result.closing.shown, &end) == 2 &&
                      static_cast<std::size_t>(end) == closing.size() && closing.back() == ' ';
  EXPECT_TRUE(parsed) << "not a closing line: " << closing;
  if (parsed)
    result.closing.offset = std::strtoull(hex_offset, nullptr, 16);
  return result;
}

std::uint64_t chunk_length(const listed_chunk &chunk) {
  if (!chunk.has_packed_size)
    return 3 + chunk.unpacked_size;
  return (chunk.shown >= 0xC0 ? 6 : 5) + chunk.packed_size;
}

std::uint64_t check_tiling(const listing &l, std::uint64_t from) {
  std::uint64_t at = from;
  std::uint64_t unpacked = 0;
  for (const listed_chunk &chunk : l.chunks) {
    EXPECT_EQ(chunk.offset, at) << "chunk does not start where the one before it ends";
    at = chunk.offset + chunk_length(chunk);
    unpacked += chunk.unpacked_size;
  }
  EXPECT_EQ(l.closing.offset, at) << "closing line not right after the last chunk";
  return unpacked;
}

std::string encode_raw_lzma2(const std::string &data, std::uint32_t preset) {
  lzma_options_lzma options;
  lzma_lzma_preset(&options, preset);
  const lzma_filter filters[] = {{LZMA_FILTER_LZMA2, &options}, {LZMA_VLI_UNKNOWN, nullptr}};
  // Incompressible data is stored in chunks of 64 KiB, each with a 3-byte header.
  std::string out(data.size() + data.size() / 1024 + 64, '\0');
  std::size_t written = 0;
  const lzma_ret ret = lzma_raw_buffer_encode(
      filters, nullptr, reinterpret_cast<const std::uint8_t *>(data.data()), data.size(),
      reinterpret_cast<std::uint8_t *>(out.data()), &written, out.size());
  EXPECT_EQ(ret, LZMA_OK);
  out.resize(written);
  return out;
}

std::string encode_xz(const std::string &data, std::uint32_t preset) {
  std::string out(lzma_stream_buffer_bound(data.size()), '\0');
  std::size_t written = 0;
  const lzma_ret ret = lzma_easy_buffer_encode(
      preset, LZMA_CHECK_CRC64, nullptr, reinterpret_cast<const std::uint8_t *>(data.data()),
      data.size(), reinterpret_cast<std::uint8_t *>(out.data()), &written, out.size());
  EXPECT_EQ(ret, LZMA_OK);
  out.resize(written);
  return out;
}

std::vector<xz_block> xz_blocks(const std::string &file) {
  std::vector<xz_block> blocks;
  const auto *raw = reinterpret_cast<const std::uint8_t *>(file.data());
  lzma_stream_flags footer;
  if (file.size() < std::size_t{2} * LZMA_STREAM_HEADER_SIZE ||
      lzma_stream_footer_decode(&footer, raw + file.size() - LZMA_STREAM_HEADER_SIZE) != LZMA_OK) {
    ADD_FAILURE() << "no xz stream footer";
    return blocks;
  }
  const std::size_t index_at = file.size() - LZMA_STREAM_HEADER_SIZE - footer.backward_size;
  std::uint64_t memlimit = UINT64_MAX;
  lzma_index *index = nullptr;
  std::size_t in_pos = index_at;
  if (lzma_index_buffer_decode(&index, &memlimit, nullptr, raw, &in_pos,
                               file.size() - LZMA_STREAM_HEADER_SIZE) != LZMA_OK) {
    ADD_FAILURE() << "xz index does not decode";
    return blocks;
  }
  const std::uint64_t check_size = lzma_check_size(footer.check);
  lzma_index_iter iter;
  lzma_index_iter_init(&iter, index);
  while (!lzma_index_iter_next(&iter, LZMA_INDEX_ITER_BLOCK)) {
    const std::uint64_t header_at = iter.block.compressed_file_offset;
    const std::uint64_t header_size = (raw[header_at] + std::uint64_t{1}) * 4;
    blocks.push_back({header_at + header_size,
                      header_at + iter.block.unpadded_size - check_size - 1,
                      iter.block.uncompressed_size});
  }
  lzma_index_end(index, nullptr);
  return blocks;
}

std::string text_data(std::size_t size) {
  static const char *const words[] = {"chunk ", "header ", "stream ",   "offset ", "lzma2 ",
                                      "size ",  "packed ", "control\n", "byte ",   "props "};
  std::string s;
  std::mt19937 pick(7);
  while (s.size() < size)
    s += words[pick() % 10];
  s.resize(size);
  return s;
}

std::string random_data(std::size_t size, std::uint32_t seed) {
  std::mt19937 gen(seed);
  std::string s(size, '\0');
  for (char &c : s)
    c = static_cast<char>(gen());
  return s;
}

std::string mixed_data(std::size_t size) {
  std::string s;
  for (std::uint32_t part = 0; s.size() < size; ++part)
    s += part % 2 == 0 ? text_data(300000) : random_data(200000, part);
  s.resize(size);
  return s;
}
