#include "xz_report.h"

#include <algorithm>
#include <cinttypes>
#include <cstdarg>
#include <cstdio>
#include <cstring>

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
  if (verdicts_only_)
    return true;
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
  if (verdicts_only_)
    return true;
  return line("index at %08" PRIX64 ": %" PRIu64 " block%s\n", at, blocks, blocks == 1 ? "" : "s");
}

namespace {

// What is wrong, after "stream N at POS: damaged: " or "truncated: ", with `where` naming
// the block; nothing for an intact stream.
int reason(char *text, std::size_t size, const stream_verdict &v, const char *where,
           std::uint64_t file_size) {
  const char *ends = "the file ends at";
  switch (v.fault) {
  case stream_fault::none:
    return 0;
  case stream_fault::end_in_stream_header:
    return std::snprintf(text, size, "%s %08" PRIX64 ", inside the stream header", ends, file_size);
  case stream_fault::end_where_block_is_due:
    return std::snprintf(text, size, "%s %08" PRIX64 ", where a block header or the index is due",
                         ends, file_size);
  case stream_fault::end_in_block_header:
    return std::snprintf(text, size, "%s %08" PRIX64 ", inside the header of %s", ends, file_size,
                         where);
  case stream_fault::end_where_chunk_is_due:
    return std::snprintf(text, size, "%s %08" PRIX64 ", inside %s, where a chunk header is due",
                         ends, file_size, where);
  case stream_fault::end_in_chunk:
    return std::snprintf(text, size, "%s %08" PRIX64 ", inside %s, in the chunk at %08" PRIX64 "",
                         ends, file_size, where, v.at);
  case stream_fault::end_in_block_padding:
    return std::snprintf(text, size, "%s %08" PRIX64 ", inside the padding of %s", ends, file_size,
                         where);
  case stream_fault::end_in_check:
    return std::snprintf(text, size, "%s %08" PRIX64 ", inside the check of %s", ends, file_size,
                         where);
  case stream_fault::end_in_index:
    return std::snprintf(text, size, "%s %08" PRIX64 ", inside the index", ends, file_size);
  case stream_fault::end_in_footer:
    return std::snprintf(text, size, "%s %08" PRIX64 ", inside the stream footer", ends, file_size);
  case stream_fault::stream_header_crc:
    return std::snprintf(text, size, "the stream header's CRC32 fails");
  case stream_fault::stream_flags:
    return std::snprintf(text, size, "stream flags %02X %02X that the format does not define",
                         static_cast<unsigned>(v.found >> 8),
                         static_cast<unsigned>(v.found & 0xFF));
  case stream_fault::block_header:
    return std::snprintf(text, size, "the header of %s at %08" PRIX64 ": %s", where, v.at, v.what);
  case stream_fault::no_chunk:
    return std::snprintf(text, size, "%s: the byte at %08" PRIX64 " opens no chunk", where, v.at);
  case stream_fault::no_dictionary_reset:
    return std::snprintf(text, size,
                         "%s: its first chunk, at %08" PRIX64 ", does not reset the dictionary",
                         where, v.at);
  case stream_fault::no_properties:
    return std::snprintf(text, size,
                         "%s: the chunk at %08" PRIX64
                         " comes before any properties byte since the dictionary reset",
                         where, v.at);
  case stream_fault::properties_above_224:
    return std::snprintf(text, size,
                         "%s: the chunk at %08" PRIX64 " has properties byte %02X, above E0 (224)",
                         where, v.at, static_cast<unsigned>(v.found));
  case stream_fault::lc_plus_lp_above_4:
    return std::snprintf(text, size,
                         "%s: the chunk at %08" PRIX64 " has properties byte %02X, lc + lp above 4",
                         where, v.at, static_cast<unsigned>(v.found));
  case stream_fault::compressed_size:
    return std::snprintf(text, size,
                         "%s: its header gives %" PRIu64 " bytes of data, the walk finds %" PRIu64
                         " up to the end marker at %08" PRIX64,
                         where, v.expected, v.found, v.at);
  case stream_fault::uncompressed_size:
    return std::snprintf(
        text, size, "%s: its header gives %" PRIu64 " bytes unpacked, the walk finds %" PRIu64 "",
        where, v.expected, v.found);
  case stream_fault::block_padding:
    return std::snprintf(text, size, "%s: its padding at %08" PRIX64 " is not zero", where, v.at);
  case stream_fault::index_invalid:
    return std::snprintf(text, size, "the index at %08" PRIX64 ": %s", v.at, v.what);
  case stream_fault::index_crc:
    return std::snprintf(text, size, "the index at %08" PRIX64 ": its CRC32 fails", v.at);
  case stream_fault::index_block_count:
    return std::snprintf(text, size,
                         "the index lists %" PRIu64 " blocks, the walk finds %" PRIu64 "",
                         v.expected, v.found);
  case stream_fault::index_unpadded_size:
    return std::snprintf(text, size,
                         "the index disagrees on %s: unpadded size %" PRIu64
                         ", the walk finds %" PRIu64 "",
                         where, v.expected, v.found);
  case stream_fault::index_uncompressed_size:
    return std::snprintf(text, size,
                         "the index disagrees on %s: uncompressed size %" PRIu64
                         ", the walk finds %" PRIu64 "",
                         where, v.expected, v.found);
  case stream_fault::footer_crc:
    return std::snprintf(text, size, "the stream footer at %08" PRIX64 ": its CRC32 fails", v.at);
  case stream_fault::footer_magic:
    return std::snprintf(text, size, "the stream footer at %08" PRIX64 ": it does not end in YZ",
                         v.at);
  case stream_fault::footer_flags:
    return std::snprintf(
        text, size, "the stream footer at %08" PRIX64 ": its flags differ from the header's", v.at);
  case stream_fault::footer_index_size:
    return std::snprintf(text, size,
                         "the stream footer at %08" PRIX64 " gives an index of %" PRIu64
                         " bytes, the index has %" PRIu64 "",
                         v.at, v.expected, v.found);
  case stream_fault::chunk_past_end:
    return std::snprintf(text, size,
                         "%s: the chunk at %08" PRIX64
                         " runs past the end of the file, where the stream's index at %08" PRIX64
                         " shows it goes on: its size is damaged",
                         where, v.at, v.found);
  case stream_fault::data_error:
    return std::snprintf(text, size,
                         "%s: the chunk at %08" PRIX64
                         " does not decode: decoding gave up at %08" PRIX64 ", and %" PRIu64
                         " of its %" PRIu64 " bytes unpacked are lost from that chunk on",
                         where, v.at, v.found, v.lost, v.expected);
  case stream_fault::check_fails:
    return std::snprintf(text, size,
                         "%s: its check at %08" PRIX64
                         " does not match what it decodes to: the damage lies in its stored "
                         "chunks or in its check field",
                         where, v.at);
  case stream_fault::read_error:
    return std::snprintf(text, size, "read error at %08" PRIX64 "", v.at);
  }
  return 0;
}

} // namespace

bool xz_report::stream_ended(std::uint64_t stream, std::uint64_t at, const stream_verdict &v,
                             std::uint64_t file_size) {
  char where[64] = "";
  if (v.block != 0)
    std::snprintf(where, sizeof where, "block %" PRIu64 ".%" PRIu64, stream, v.block);
  if (v.fault == stream_fault::none) {
    char alone[96] = ", by structure alone: nothing decoded";
    if (decoded_ && v.undecoded_blocks == 0)
      alone[0] = '\0';
    else if (decoded_)
      std::snprintf(alone, sizeof alone,
                    ", %" PRIu64 " by structure alone: liblzma cannot decode them",
                    v.undecoded_blocks);
    return line("stream %" PRIu64 " at %08" PRIX64 ": intact, %" PRIu64 " block%s, %" PRIu64
                " bytes%s\n",
                stream, at, v.found, v.found == 1 ? "" : "s", v.at - at, alone);
  }
  char why[256];
  reason(why, sizeof why, v, where, file_size);
  char more[64] = "";
  if (v.damaged_blocks > 1)
    std::snprintf(more, sizeof more, "; %" PRIu64 " blocks damaged", v.damaged_blocks);
  return line("stream %" PRIu64 " at %08" PRIX64 ": %s: %s%s\n", stream, at,
              v.truncated() ? "truncated" : "damaged", why, more);
}

bool xz_report::block_damaged(std::uint64_t stream, const stream_verdict &v) {
  char where[64];
  const int named =
      std::snprintf(where, sizeof where, "block %" PRIu64 ".%" PRIu64, stream, v.block);
  char why[256];
  reason(why, sizeof why, v, where, 0);
  // The block is named first: a reason that starts with its name goes on after it.
  const bool starts_with_it = std::strncmp(why, where, static_cast<std::size_t>(named)) == 0;
  return line("%s damaged: %s\n", where, starts_with_it ? why + named + 2 : why);
}

bool xz_report::walk_resumed(std::uint64_t at, const char *how) {
  return verdicts_only_ || line("the walk resumes at %08" PRIX64 ", %s\n", at, how);
}

bool xz_report::padding_not_multiple_of_4(std::uint64_t at, std::uint64_t length) {
  return line("stream padding at %08" PRIX64 ": %" PRIu64 " bytes, not a multiple of 4\n", at,
              length);
}

bool xz_report::not_a_stream(std::uint64_t at) {
  return line("bytes at %08" PRIX64 ": neither stream padding nor a stream\n", at);
}

bool xz_report::magic_without_stream(std::uint64_t at) {
  if (verdicts_only_)
    return true;
  return line("magic bytes at %08" PRIX64 ": no stream, the header's CRC32 fails\n", at);
}

bool xz_report::stream_inside(std::uint64_t stream, std::uint64_t at, std::uint64_t outer) {
  if (verdicts_only_)
    return true;
  return line("stream %" PRIu64 " at %08" PRIX64 " lies inside the data of stream %" PRIu64 "\n",
              stream, at, outer);
}

bool xz_report::stream_not_walked(std::uint64_t at, std::uint64_t inner, std::uint64_t outer) {
  if (verdicts_only_)
    return true;
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
