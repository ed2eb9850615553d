#include "chunk_rules.h"

namespace {

// lc, lp and pb packed as (pb * 5 + lp) * 9 + lc, each at most 4.
constexpr unsigned largest_properties = (4 * 5 + 4) * 9 + 8;
constexpr unsigned largest_lc_plus_lp = 4;

} // namespace

chunk_fault chunk_rules::fault_of(const chunk_header &header) {
  // Control 01 and classes E0 reset the dictionary; after that the next compressed chunk
  // must bring properties, since a reset leaves none to go on with.
  const bool resets_dictionary = header.control == 0x01 || header.control >= 0xE0;
  if (resets_dictionary) {
    need_dictionary_reset_ = false;
    need_properties_ = true;
  } else if (need_dictionary_reset_) {
    return chunk_fault::no_dictionary_reset;
  }
  if (header.kind == chunk_kind::compressed && need_properties_)
    return chunk_fault::no_properties;
  if (header.kind != chunk_kind::compressed_with_props)
    return chunk_fault::none;
  need_properties_ = false;
  if (header.props > largest_properties)
    return chunk_fault::properties_above_224;
  const unsigned lc = header.props % 9;
  const unsigned lp = header.props / 9 % 5;
  return lc + lp > largest_lc_plus_lp ? chunk_fault::lc_plus_lp_above_4 : chunk_fault::none;
}
