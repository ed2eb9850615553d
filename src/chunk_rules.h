#ifndef LZMA2_CHUNKS_CHUNK_RULES_H
#define LZMA2_CHUNKS_CHUNK_RULES_H

#include "chunk_header.h"

#include <cstdint>

// What a decoder demands of a stream's chunk headers beyond their control byte ranges, which
// the walk alone does not check.
enum class chunk_fault {
  none,
  no_dictionary_reset, // the first chunk keeps a dictionary there is none of
  no_properties,       // a chunk of class 80 or A0 before properties were set
  properties_above_224,
  lc_plus_lp_above_4,
};

// Follows a stream's chunk headers in order: the first fault a decoder would stop at, and
// how many bytes the chunks unpack to.
class chunk_rules {
public:
  // For each chunk header the walk lists, in order.
  void check(const chunk_header &header) {
    unpacked_total_ += header.unpacked_size;
    last_ = header;
    if (fault_ != chunk_fault::none)
      return;
    fault_ = fault_of(header);
    faulty_ = header;
  }

  chunk_fault fault() const { return fault_; }
  // The chunk header at fault, when there is one.
  const chunk_header &faulty() const { return faulty_; }
  // The last chunk header checked.
  const chunk_header &last() const { return last_; }
  std::uint64_t unpacked_total() const { return unpacked_total_; }

private:
  chunk_fault fault_of(const chunk_header &header);

  bool need_dictionary_reset_ = true;
  bool need_properties_ = true;
  chunk_fault fault_ = chunk_fault::none;
  chunk_header faulty_;
  chunk_header last_;
  std::uint64_t unpacked_total_ = 0;
};

#endif
