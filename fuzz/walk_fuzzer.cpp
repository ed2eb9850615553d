// Fuzz target: walks the fuzzer's bytes from the start offset it picks, as a regular file and
// through a pipe, and checks the listing itself and against the baseline walk.

#include "baseline_walk.h"
#include "byte_input.h"
#include "chunk_walk.h"
#include "fuzz_input.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <string>
#include <sys/mman.h>
#include <unistd.h>

namespace {

// What the checker needs to know about the file: its size and its bytes.
struct file_view {
  const fuzz_input::layout &in;
  std::uint64_t size() const { return in.data_position + in.data_size; }
  int byte_at(std::uint64_t position) const {
    if (position >= size())
      return -1;
    return position < in.data_position ? 0 : in.data[position - in.data_position];
  }
};

[[noreturn]] void fail(const char *what, const std::string &output) {
  std::fprintf(stderr, "walk_fuzzer: %s\n--- output ---\n%s\n--- end ---\n", what, output.c_str());
  std::abort();
}

// A strict reader of the listing: a field is taken only in the exact form the tool prints.
class line_reader {
public:
  explicit line_reader(const std::string &text) : text_(text) {}

  bool at_end() const { return at_ == text_.size(); }
  bool take(const char *literal) {
    const std::size_t n = std::strlen(literal);
    if (text_.compare(at_, n, literal) != 0)
      return false;
    at_ += n;
    return true;
  }
  bool peek(const char *literal) const {
    return text_.compare(at_, std::strlen(literal), literal) == 0;
  }

  // Upper-case hex digits, between min and max of them.
  bool hex(std::uint64_t &value, std::size_t min_digits, std::size_t max_digits) {
    std::size_t n = 0;
    value = 0;
    for (; at_ + n < text_.size(); ++n) {
      const char c = text_[at_ + n];
      const int digit = c >= '0' && c <= '9' ? c - '0' : c >= 'A' && c <= 'F' ? c - 'A' + 10 : -1;
      if (digit < 0)
        break;
      value = value << 4 | static_cast<unsigned>(digit);
    }
    if (n < min_digits || n > max_digits)
      return false;
    at_ += n;
    return true;
  }

  // A position as "%08X" prints it: eight digits, or more without a leading zero.
  bool position(std::uint64_t &value) {
    const std::size_t begin = at_;
    if (!hex(value, 8, 16))
      return false;
    return at_ - begin == 8 || text_[begin] != '0';
  }

  // Decimal as "%i" prints a positive number: no sign, no leading zero.
  bool decimal(std::uint64_t &value) {
    std::size_t n = 0;
    value = 0;
    while (at_ + n < text_.size() && n < 10 && text_[at_ + n] >= '0' && text_[at_ + n] <= '9')
      value = value * 10 + static_cast<unsigned>(text_[at_ + n++] - '0');
    if (n == 0 || (n > 1 && text_[at_] == '0'))
      return false;
    at_ += n;
    return true;
  }

private:
  const std::string &text_;
  std::size_t at_ = 0;
};

// The properties every listing has, whatever the input: each line has one of the known
// shapes, the chunks follow on from each other from the start offset, every line shows what
// the file holds there, and the closing line comes last.
void check_listing(const std::string &text, std::uint64_t start_offset, const file_view &file) {
  line_reader r(text);
  std::uint64_t expected = start_offset;
  for (;;) {
    std::uint64_t position = 0;
    std::uint64_t shown = 0;
    if (!r.position(position) || !r.take(": "))
      fail("line does not start with a position", text);
    if (position != expected)
      fail("chunk is not where the one before it ends", text);
    if (position > UINT32_MAX)
      fail("position past what the inputs here can reach", text);
    const int control = file.byte_at(position);

    if (r.peek("FFFFFFFF ")) {
      r.take("FFFFFFFF ");
      if (control != -1)
        fail("end of input shown before the end of the file", text);
      break;
    }
    if (!r.hex(shown, 2, 2))
      fail("control byte is not two hex digits", text);
    if (!r.peek(" u=")) {
      if (!r.take(" "))
        fail("line is neither a chunk line nor the closing line", text);
      if (control < 0 || control != static_cast<int>(shown) || (shown >= 1 && shown <= 2) ||
          shown >= 0x80)
        fail("closing line shows a byte that does not end the walk", text);
      break;
    }

    std::uint64_t unpacked = 0;
    std::uint64_t packed = 0;
    std::uint64_t props = 0;
    if (!r.take(" u=") || !r.decimal(unpacked))
      fail("chunk line without u=", text);
    const bool is_uncompressed = shown == 1 || shown == 2;
    const bool is_compressed = shown == 0x80 || shown == 0xA0;
    const bool has_props = shown == 0xC0 || shown == 0xE0;
    if (!is_uncompressed && !is_compressed && !has_props)
      fail("chunk line shows no chunk kind", text);
    if (control < 0 || (is_uncompressed ? static_cast<unsigned>(control) != shown
                                        : (static_cast<unsigned>(control) & 0xE0u) != shown))
      fail("chunk line does not show the control byte in the file", text);
    if (!is_uncompressed && (!r.take(" p=") || !r.decimal(packed)))
      fail("compressed chunk line without p=", text);
    if (has_props && (!r.take(" s=") || !r.hex(props, 2, 2)))
      fail("chunk line of class C0/E0 without s=", text);
    if (!r.take("\n"))
      fail("chunk line does not end where its shape ends", text);
    if (unpacked < 1 || unpacked > (is_uncompressed ? 0x10000u : 0x200000u) ||
        (!is_uncompressed && (packed < 1 || packed > 0x10000u)))
      fail("size out of range", text);

    // A header cut short by the end of the file ends there; the payload is jumped anyway.
    const std::uint64_t header_length = is_uncompressed ? 3 : has_props ? 6 : 5;
    const std::uint64_t header_end = position + header_length;
    expected = (header_end < file.size() ? header_end : file.size()) +
               (is_uncompressed ? unpacked : packed);
  }
  if (!r.at_end())
    fail("output goes on after the closing line", text);
}

class memory_output {
public:
  memory_output() : stream_(open_memstream(&text_, &length_)) {
    if (stream_ == nullptr)
      std::abort();
  }
  ~memory_output() { std::free(text_); }
  memory_output(const memory_output &) = delete;
  memory_output &operator=(const memory_output &) = delete;

  std::FILE *stream() const { return stream_; }
  std::string finish() {
    std::fclose(stream_);
    return std::string(text_, length_);
  }

private:
  char *text_ = nullptr;
  std::size_t length_ = 0;
  std::FILE *stream_;
};

bool write_all(int fd, const std::uint8_t *data, std::size_t size, off_t at) {
  while (size > 0) {
    const ssize_t n = at < 0 ? write(fd, data, size) : pwrite(fd, data, size, at);
    if (n <= 0)
      return false;
    data += n;
    size -= static_cast<std::size_t>(n);
    if (at >= 0)
      at += n;
  }
  return true;
}

std::string walk_fd(int fd, std::uint64_t start_offset, const char *what) {
  memory_output out;
  byte_input input(fd);
  walk_result result{};
  {
    listing_writer writer(out.stream());
    result = walk_chunks(input, start_offset, writer);
  }
  std::string text = out.finish();
  if (result != walk_result::ok)
    fail(what, text);
  return text;
}

// One file for every run, emptied each time: creating one per input costs more than the walk.
int shared_file() {
  static const int fd = memfd_create("walk_fuzzer", MFD_CLOEXEC);
  if (fd < 0)
    std::abort();
  return fd;
}

// Small inputs also go through a pipe, which holds them whole, to walk the sequential reader.
constexpr std::size_t pipe_limit = 65536;

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *input, std::size_t size) {
  const fuzz_input::layout in = fuzz_input::decode(input, size);
  const file_view file{in};
  const int fd = shared_file();
  if (ftruncate(fd, static_cast<off_t>(file.size())) != 0 ||
      !write_all(fd, in.data, in.data_size, static_cast<off_t>(in.data_position)))
    std::abort();

  const std::string listed = walk_fd(fd, in.start_offset, "walk over a file failed");
  check_listing(listed, in.start_offset, file);

  memory_output baseline_out;
  std::FILE *baseline_in = fdopen(dup(fd), "rb");
  if (baseline_in == nullptr)
    std::abort();
  baseline_walk_chunks(baseline_in, static_cast<unsigned>(in.start_offset), baseline_out.stream());
  std::fclose(baseline_in);
  if (baseline_out.finish() != listed)
    fail("listing differs from the baseline walk's", listed);

  if (in.data_position == 0 && in.data_size <= pipe_limit) {
    int ends[2];
    if (pipe2(ends, O_CLOEXEC) != 0)
      std::abort();
    // Filled before the walk reads, so the pipe must hold the data whole.
    if (fcntl(ends[1], F_GETPIPE_SZ) < static_cast<int>(in.data_size))
      fcntl(ends[1], F_SETPIPE_SZ, static_cast<int>(pipe_limit));
    if (fcntl(ends[1], F_GETPIPE_SZ) < static_cast<int>(in.data_size))
      std::abort();
    const bool written = write_all(ends[1], in.data, in.data_size, -1);
    close(ends[1]);
    if (!written)
      std::abort();
    const std::string piped = walk_fd(ends[0], in.start_offset, "walk over a pipe failed");
    close(ends[0]);
    if (piped != listed)
      fail("listing through a pipe differs from the file's", piped);
  }

  if (ftruncate(fd, 0) != 0)
    std::abort();
  return 0;
}
