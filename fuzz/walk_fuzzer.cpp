// Fuzz target: walks the fuzzer's bytes from the start offset it picks, as a regular file and
// through a pipe, and checks the listing itself and against the baseline walk.

#include "baseline_walk.h"
#include "byte_input.h"
#include "chunk_walk.h"
#include "fuzz_input.h"
#include "listing_parser.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <string>
#include <sys/mman.h>
#include <unistd.h>

namespace {

[[noreturn]] void fail(const char *what, const std::string &output) {
  std::fprintf(stderr, "walk_fuzzer: %s\n--- output ---\n%s\n--- end ---\n", what, output.c_str());
  std::abort();
}

// What `write` writes to the descriptor it is given, in a file that cannot grow past a
// bound set by the input's size: every chunk takes at least three bytes, so a walk that
// lists more is stuck, and would fill all memory. Its writes fail there instead.
template <typename Write> std::string bounded(std::size_t data_size, Write write) {
  const int fd = memfd_create("listing", MFD_CLOEXEC | MFD_ALLOW_SEALING);
  const auto limit = static_cast<off_t>((data_size / 3 + 4) * 64);
  if (fd < 0 || ftruncate(fd, limit) != 0 || fcntl(fd, F_ADD_SEALS, F_SEAL_GROW) != 0)
    std::abort();
  return fuzz_input::written_to(fd, write);
}

// The properties every listing has, whatever the input: it parses strictly, the chunks
// follow on from each other from the start offset, and each line shows the byte the file
// holds at its position.
void check_listing(const std::string &text, const fuzz_input::layout &in) {
  const std::uint64_t size = in.data_position + in.data_size;
  const auto byte_at = [&](std::uint64_t at) {
    return at >= size ? -1 : at < in.data_position ? 0 : in.data[at - in.data_position];
  };
  listing l;
  if (const char *wrong = parse_listing(text, false, l))
    fail(wrong, text);
  if (const char *wrong = check_tiling(l, in.start_offset, size))
    fail(wrong, text);
  for (const listed_chunk &c : l.chunks) {
    const int control = byte_at(c.offset);
    const bool stored = c.shown < 0x80;
    if (control < 0 || (stored ? control : control & 0xE0) != static_cast<int>(c.shown))
      fail("chunk line does not show the control byte in the file", text);
    if (c.unpacked_size < 1 || c.unpacked_size > (stored ? 0x10000u : 0x200000u) ||
        (!stored && (c.packed_size < 1 || c.packed_size > 0x10000u)))
      fail("size out of range", text);
  }
  const int closing = byte_at(l.closing.offset);
  const bool ends_walk = l.closing.shown == 0xFFFFFFFF
                             ? closing == -1
                             : closing == static_cast<int>(l.closing.shown) && closing != 1 &&
                                   closing != 2 && closing < 0x80;
  if (!ends_walk)
    fail("closing line does not show a byte that ends the walk", text);
}

std::string walk_fd(int fd, const fuzz_input::layout &in, const char *what) {
  return bounded(in.data_size, [&](int out) {
    byte_input input(fd);
    listing_writer writer(out);
    if (walk_chunks(input, in.start_offset, writer) != walk_result::ok)
      fail(what, "the walk failed, or listed more than the input can hold");
  });
}

// Small inputs also go through a pipe, which holds them whole, to walk the sequential reader.
constexpr std::size_t pipe_limit = 65536;

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *input, std::size_t size) {
  const fuzz_input::layout in = fuzz_input::decode(input, size);
  // One file for every run, emptied each time: creating one per input costs more than the walk.
  static const int fd = memfd_create("walk_fuzzer", MFD_CLOEXEC);
  const auto data_size = static_cast<ssize_t>(in.data_size);
  if (fd < 0 || ftruncate(fd, static_cast<off_t>(in.data_position + in.data_size)) != 0 ||
      pwrite(fd, in.data, in.data_size, static_cast<off_t>(in.data_position)) != data_size)
    std::abort();

  const std::string listed = walk_fd(fd, in, "walk over a file failed");
  check_listing(listed, in);

  const std::string baseline = bounded(in.data_size, [&](int out) {
    std::FILE *file = fdopen(dup(fd), "rb");
    std::FILE *stream = fdopen(dup(out), "wb");
    if (file == nullptr || stream == nullptr)
      std::abort();
    baseline_walk_chunks(file, static_cast<unsigned>(in.start_offset), stream);
    std::fclose(file);
    std::fclose(stream);
  });
  if (baseline != listed)
    fail("listing differs from the baseline walk's", listed);

  if (in.data_position == 0 && in.data_size <= pipe_limit) {
    int ends[2];
    // Filled before the walk reads, so the pipe must hold the data whole.
    if (pipe2(ends, O_CLOEXEC) != 0 ||
        fcntl(ends[1], F_SETPIPE_SZ, static_cast<int>(pipe_limit)) < data_size)
      std::abort();
    const bool written = write(ends[1], in.data, in.data_size) == data_size;
    close(ends[1]);
    if (!written)
      std::abort();
    const std::string piped = walk_fd(ends[0], in, "walk over a pipe failed");
    close(ends[0]);
    if (piped != listed)
      fail("listing through a pipe differs from the file's", piped);
  }

  if (fd < 0 || ftruncate(fd, 0) != 0)
    std::abort();
  return 0;
}
