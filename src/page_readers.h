#ifndef LZMA2_CHUNKS_PAGE_READERS_H
#define LZMA2_CHUNKS_PAGE_READERS_H

#include <cstdint>

struct page_readers_state; // what the walk and its helpers share

// Reads the headers expected ahead from a few helper threads, each through a descriptor of
// its own on the same file. Some mounts, rclone's of object storage among them, serve one
// read at a time per open file: there hints, and more reads on the walk's own descriptor,
// still leave one request in flight, but more descriptors do not. A helper only brings pages
// into the system's cache; the walk still reads every byte it lists, so what the helpers do
// or fail to do changes how long it takes, never what it prints.
class page_readers {
public:
  // Measured on rclone's mount over a link with 5 ms each way: 8 helpers took a little longer
  // than 16, and 32 no less, while each request makes the server send far more than a page,
  // so twice the helpers had it send twice the bytes.
  static constexpr unsigned helpers = 16;

  page_readers() = default;
  page_readers(const page_readers &) = delete;
  page_readers &operator=(const page_readers &) = delete;
  // Stops the helpers without waiting for the opens or reads they have in flight.
  ~page_readers() { stop(); }

  // Starts the helpers on the file open as fd, `size` bytes long, where the walk's own reads
  // from the storage take `walk_read_microseconds` at the quickest. False when the file cannot
  // be opened again (no /proc/self/fd, as on Windows, or a descriptor opened for direct
  // reads, which bypass the cache) or no thread can be started.
  bool start(int fd, std::uint64_t size, std::uint64_t walk_read_microseconds);
  enum class status {
    opening, // not all have opened the file yet: none reads
    reading,
    stopped, // for good: one failed, their reads were far slower than the walk's, or opening
             // took past its deadline
  };
  // Gives up on helpers whose opens are past their deadline; it never waits for them.
  status state();
  // How far off a guess that a helper reads for may be, and the most it reads for one
  // header: the pages where it may lie, a few at most.
  static constexpr std::uint64_t widest_guess = std::uint64_t{4} * 4096;
  static constexpr std::uint64_t widest_read = std::uint64_t{6} * 4096;

  // Has one helper read [at, at + length) soon, widest_read at most, where a header may lie.
  // False when the helpers have stopped or have as much waiting as they can take.
  bool read_soon(std::uint64_t at, std::uint64_t length);
  // The walk is at `at`: headers before it are no longer worth reading.
  void walk_reached(std::uint64_t at);
  void stop();

private:
  page_readers_state *shared_ = nullptr;
};

#endif
