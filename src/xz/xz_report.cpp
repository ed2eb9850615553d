#include "xz_report.h"

#include <algorithm>
#include <cinttypes>
#include <cstdarg>
#include <cstdio>

namespace {

const char *check_name(unsigned check_type) {
  switch (check_type) {
  case 0:
    return "None";
  case 1:
    return "CRC32";
  case 4:
    return "CRC64";
  case 10:
    return "SHA-256";
  default:
    return nullptr;
  }
}

} // namespace

bool xz_report::line(const char *format, ...) {
  char text[320];
  va_list args;
  va_start(args, format);
  // The analyzer misses va_start when it checks this file with others.
  const int length = std::vsnprintf(text, sizeof text, format, args); // NOLINT
  va_end(args);
  return length >= 0 &&
         out_.text(text, std::min(static_cast<std::size_t>(length), sizeof text - 1));
}

bool xz_report::stream_found(std::uint64_t stream, std::uint64_t at, unsigned check_type) {
  if (check_name(check_type) == nullptr)
    return line("stream %" PRIu64 " at %08" PRIX64 ": check type %u\n", stream, at, check_type);
  return line("stream %" PRIu64 " at %08" PRIX64 ": check %s\n", stream, at,
              check_name(check_type));
}

bool xz_report::block_found(std::uint64_t stream, std::uint64_t block, std::uint64_t at,
                            std::uint64_t data_at) {
  return line("block %" PRIu64 ".%" PRIu64 " at %08" PRIX64 ": OFFSET %" PRIX64 "\n", stream, block,
              at, data_at);
}

bool xz_report::listing_ended() {
  return out_.text("\n", 1);
}

bool xz_report::index_found(std::uint64_t at, std::uint64_t blocks) {
  return line("index at %08" PRIX64 ": %" PRIu64 " block%s\n", at, blocks, blocks == 1 ? "" : "s");
}

bool xz_report::stream_ended(std::uint64_t stream, std::uint64_t at, const stream_verdict &v,
                             std::uint64_t file_size) {
  char where[96] = "";
  if (v.block != 0)
    std::snprintf(where, sizeof where, "block %" PRIu64 ".%" PRIu64, stream, v.block);
  const char *const state = v.fault == stream_fault::none ? "intact"
                            : v.truncated()               ? "truncated"
                                                          : "damaged";
  char prefix[64];
  std::snprintf(prefix, sizeof prefix, "stream %" PRIu64 " at %08" PRIX64 ": %s", stream, at,
                state);
  const char *ends = "the file ends at";
  switch (v.fault) {
  case stream_fault::none:
    return line("%s, %" PRIu64 " block%s, %" PRIu64 " bytes\n", prefix, v.found,
                v.found == 1 ? "" : "s", v.at - at);
  case stream_fault::end_in_stream_header:
    return line("%s: %s %08" PRIX64 ", inside the stream header\n", prefix, ends, file_size);
  case stream_fault::end_where_block_is_due:
    return line("%s: %s %08" PRIX64 ", where a block header or the index is due\n", prefix, ends,
                file_size);
  case stream_fault::end_in_block_header:
    return line("%s: %s %08" PRIX64 ", inside the header of %s\n", prefix, ends, file_size, where);
  case stream_fault::end_where_chunk_is_due:
    return line("%s: %s %08" PRIX64 ", inside %s, where a chunk header is due\n", prefix, ends,
                file_size, where);
  case stream_fault::end_in_chunk:
    return line("%s: %s %08" PRIX64 ", inside %s, in the chunk at %08" PRIX64 "\n", prefix, ends,
                file_size, where, v.at);
  case stream_fault::end_in_block_padding:
    return line("%s: %s %08" PRIX64 ", inside the padding of %s\n", prefix, ends, file_size, where);
  case stream_fault::end_in_check:
    return line("%s: %s %08" PRIX64 ", inside the check of %s\n", prefix, ends, file_size, where);
  case stream_fault::end_in_index:
    return line("%s: %s %08" PRIX64 ", inside the index\n", prefix, ends, file_size);
  case stream_fault::end_in_footer:
    return line("%s: %s %08" PRIX64 ", inside the stream footer\n", prefix, ends, file_size);
  case stream_fault::stream_header_crc:
    return line("%s: the stream header's CRC32 fails\n", prefix);
  case stream_fault::stream_flags:
    return line("%s: stream flags %02X %02X that the format does not define\n", prefix,
                static_cast<unsigned>(v.found >> 8), static_cast<unsigned>(v.found & 0xFF));
  case stream_fault::block_header:
    return line("%s: the header of %s at %08" PRIX64 ": %s\n", prefix, where, v.at, v.what);
  case stream_fault::no_chunk:
    return line("%s: %s: the byte at %08" PRIX64 " opens no chunk\n", prefix, where, v.at);
  case stream_fault::no_dictionary_reset:
    return line("%s: %s: its first chunk, at %08" PRIX64 ", does not reset the dictionary\n",
                prefix, where, v.at);
  case stream_fault::no_properties:
    return line("%s: %s: the chunk at %08" PRIX64
                " comes before any properties byte since the dictionary reset\n",
                prefix, where, v.at);
  case stream_fault::properties_above_224:
    return line("%s: %s: the chunk at %08" PRIX64 " has properties byte %02X, above E0 (224)\n",
                prefix, where, v.at, static_cast<unsigned>(v.found));
  case stream_fault::lc_plus_lp_above_4:
    return line("%s: %s: the chunk at %08" PRIX64 " has properties byte %02X, lc + lp above 4\n",
                prefix, where, v.at, static_cast<unsigned>(v.found));
  case stream_fault::compressed_size:
    return line("%s: %s: its header gives %" PRIu64 " bytes of data, the walk finds %" PRIu64 "\n",
                prefix, where, v.expected, v.found);
  case stream_fault::uncompressed_size:
    return line("%s: %s: its header gives %" PRIu64 " bytes unpacked, the walk finds %" PRIu64 "\n",
                prefix, where, v.expected, v.found);
  case stream_fault::block_padding:
    return line("%s: %s: its padding at %08" PRIX64 " is not zero\n", prefix, where, v.at);
  case stream_fault::index_invalid:
    return line("%s: the index at %08" PRIX64 ": %s\n", prefix, v.at, v.what);
  case stream_fault::index_crc:
    return line("%s: the index at %08" PRIX64 ": its CRC32 fails\n", prefix, v.at);
  case stream_fault::index_block_count:
    return line("%s: the index lists %" PRIu64 " blocks, the walk finds %" PRIu64 "\n", prefix,
                v.expected, v.found);
  case stream_fault::index_unpadded_size:
    return line("%s: the index disagrees on %s: unpadded size %" PRIu64 ", the walk finds %" PRIu64
                "\n",
                prefix, where, v.expected, v.found);
  case stream_fault::index_uncompressed_size:
    return line("%s: the index disagrees on %s: uncompressed size %" PRIu64
                ", the walk finds %" PRIu64 "\n",
                prefix, where, v.expected, v.found);
  case stream_fault::footer_crc:
    return line("%s: the stream footer at %08" PRIX64 ": its CRC32 fails\n", prefix, v.at);
  case stream_fault::footer_magic:
    return line("%s: the stream footer at %08" PRIX64 ": it does not end in YZ\n", prefix, v.at);
  case stream_fault::footer_flags:
    return line("%s: the stream footer at %08" PRIX64 ": its flags differ from the header's\n",
                prefix, v.at);
  case stream_fault::footer_index_size:
    return line("%s: the stream footer at %08" PRIX64 " gives an index of %" PRIu64
                " bytes, the index has %" PRIu64 "\n",
                prefix, v.at, v.expected, v.found);
  case stream_fault::read_error:
    return line("%s: read error at %08" PRIX64 "\n", prefix, v.at);
  }
  return false;
}

bool xz_report::padding_not_multiple_of_4(std::uint64_t at, std::uint64_t length) {
  return line("stream padding at %08" PRIX64 ": %" PRIu64 " bytes, not a multiple of 4\n", at,
              length);
}

bool xz_report::not_a_stream(std::uint64_t at) {
  return line("bytes at %08" PRIX64 ": neither stream padding nor a stream\n", at);
}

bool xz_report::magic_without_stream(std::uint64_t at, bool cut) {
  return line("magic bytes at %08" PRIX64 ": no stream, %s\n", at,
              cut ? "the file ends inside its header" : "the header's CRC32 fails");
}

bool xz_report::stream_inside(std::uint64_t stream, std::uint64_t at, std::uint64_t outer) {
  return line("stream %" PRIu64 " at %08" PRIX64 " lies inside the data of stream %" PRIu64 "\n",
              stream, at, outer);
}

bool xz_report::stream_not_walked(std::uint64_t at, std::uint64_t inner, std::uint64_t outer) {
  return line("magic bytes at %08" PRIX64 ": a stream header inside the data of stream %" PRIu64
              ", which lies inside stream %" PRIu64 ": not walked\n",
              at, inner, outer);
}

bool xz_report::read_error(std::uint64_t at) {
  return line("read error at %08" PRIX64 "\n", at);
}

bool xz_report::summary(std::uint64_t intact, std::uint64_t damaged, std::uint64_t truncated,
                        std::uint64_t faults_between) {
  const std::uint64_t streams = intact + damaged + truncated;
  if (streams == 0 && faults_between == 0)
    return line("no .xz stream found\n");
  char between[64] = "";
  if (faults_between != 0)
    std::snprintf(between, sizeof between, "; %" PRIu64 " fault%s between streams", faults_between,
                  faults_between == 1 ? "" : "s");
  return line("%" PRIu64 " stream%s: %" PRIu64 " intact, %" PRIu64 " damaged, %" PRIu64
              " truncated%s\n",
              streams, streams == 1 ? "" : "s", intact, damaged, truncated, between);
}
