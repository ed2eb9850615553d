#include "page_readers.h"

// Windows reads as it did, one header at a time: it starts no helpers.
bool page_readers::start(int, std::uint64_t, std::uint64_t) {
  return false;
}

page_readers::status page_readers::state() {
  return status::stopped; // never started
}

bool page_readers::read_soon(std::uint64_t, std::uint64_t) {
  return false;
}

void page_readers::walk_reached(std::uint64_t) {}

void page_readers::stop() {
  shared_ = nullptr;
}
