// Fuzz target: lzma2-chunks-xz's walk over the fuzzer's bytes as a file, with --scan when the
// first byte's bit 0 is set, and decoding each block when its bit 1 is. Whatever the bytes, the
// report ends in its summary, the status agrees with it, and each block's listing is exactly what
// lzma2-chunks prints for its OFFSET.

#include "byte_input.h"
#include "chunk_walk.h"
#include "fuzz_input.h"
#include "listing_writer.h"
#include "xz_walk.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <sys/mman.h>
#include <unistd.h>

namespace {

[[noreturn]] void fail(const char *what, const std::string &output) {
  std::fprintf(stderr, "xz_walk_fuzzer: %s\n--- output ---\n%s\n--- end ---\n", what,
               output.c_str());
  std::abort();
}

template <typename Write> std::string written_by(Write write) {
  const int fd = memfd_create("report", MFD_CLOEXEC);
  if (fd < 0)
    std::abort();
  return fuzz_input::written_to(fd, write);
}

std::string listing_at(int fd, std::uint64_t offset) {
  return written_by([&](int out) {
    byte_input input(fd);
    listing_writer writer(out);
    writer.offset_line(offset);
    walk_chunks(input, offset, writer);
  });
}

// Every "block S.B at P: OFFSET X" line is followed by X's listing and a line feed.
void check_blocks(int fd, const std::string &report) {
  const std::string marker = ": OFFSET ";
  for (std::size_t line = 0; line < report.size(); line = report.find('\n', line) + 1) {
    const std::size_t end = report.find('\n', line);
    // A damaged block's own line is its verdict, not the start of a listing.
    if (report.compare(line, 6, "block ") != 0 || report.find(" damaged: ", line) < end)
      continue;
    const std::size_t at = report.find(marker, line);
    if (at == std::string::npos || at > end)
      fail("block line without OFFSET", report);
    const std::uint64_t offset = std::stoull(report.substr(at + marker.size()), nullptr, 16);
    const std::string listing = listing_at(fd, offset);
    if (report.compare(end + 1, listing.size() + 1, listing + "\n") != 0)
      fail("a block's listing differs from lzma2-chunks'", report);
  }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *input, std::size_t size) {
  static const int fd = memfd_create("xz_walk_fuzzer", MFD_CLOEXEC);
  if (fd < 0 || ftruncate(fd, 0) != 0 || pwrite(fd, input, size, 0) != static_cast<ssize_t>(size))
    std::abort();
  const bool scan = size > 0 && (input[0] & 1) != 0;
  xz_walk_result result = xz_walk_result::read_error;
  const std::string report = written_by([&](int out) {
    byte_input in(fd);
    listing_writer writer(out);
    xz_walk_options options;
    options.scan = scan;
    options.decode = size > 0 && (input[0] & 2) != 0;
    result = walk_xz_file(in, size, options, writer);
  });
  const std::string summary = report.substr(report.rfind('\n', report.size() - 2) + 1);
  unsigned long long streams = 0, intact = 0, damaged = 0, truncated = 0;
  const bool counted =
      std::sscanf(summary.c_str(), "%llu stream%*[s]: %llu intact, %llu damaged, %llu truncated",
                  &streams, &intact, &damaged, &truncated) == 4 ||
      std::sscanf(summary.c_str(), "%llu stream: %llu intact, %llu damaged, %llu truncated",
                  &streams, &intact, &damaged, &truncated) == 4;
  if (!counted && summary != "no .xz stream found\n")
    fail("the report does not end in its summary", report);
  if (streams != intact + damaged + truncated)
    fail("the summary does not add up", report);
  const bool between = summary.find("; ") != std::string::npos;
  const bool all_intact = streams > 0 && intact == streams && !between;
  if ((result == xz_walk_result::all_intact) != all_intact ||
      (result != xz_walk_result::all_intact && result != xz_walk_result::faults))
    fail("the status disagrees with the summary", report);
  check_blocks(fd, report);
  return 0;
}
