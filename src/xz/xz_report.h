#ifndef LZMA2_CHUNKS_XZ_REPORT_H
#define LZMA2_CHUNKS_XZ_REPORT_H

#include "listing_writer.h"
#include "stream_verdict.h"

#include <cstdint>

// The lines lzma2-chunks-xz writes around each block's listing: where streams, blocks and
// indexes are, a verdict for each stream and a summary. Positions are written as the
// listing writes them, in at least eight hexadecimal digits. Each returns false once the
// output cannot be written.
class xz_report {
public:
  // `verdicts_only` leaves out all but the verdicts on streams and blocks, faults between
  // streams and the summary; `decoded` says whether the blocks are decoded, or whether an
  // intact stream is only intact in its structure.
  xz_report(listing_writer &out, bool verdicts_only, bool decoded)
      : out_(out), verdicts_only_(verdicts_only), decoded_(decoded) {}

  bool stream_found(std::uint64_t stream, std::uint64_t at, unsigned check_type);
  // Followed by the block's listing, as lzma2-chunks prints it for OFFSET data_at.
  bool block_found(std::uint64_t stream, std::uint64_t block, std::uint64_t at,
                   std::uint64_t data_at);
  // Ends the line the listing leaves open.
  bool listing_ended();
  bool index_found(std::uint64_t at, std::uint64_t blocks);
  bool stream_ended(std::uint64_t stream, std::uint64_t at, const stream_verdict &verdict,
                    std::uint64_t file_size);
  // A block damaged, before the verdict on its stream; and where the walk goes on after it.
  bool block_damaged(std::uint64_t stream, const stream_verdict &why);
  bool walk_resumed(std::uint64_t at, const char *how);
  // Faults of an .xz file outside its streams.
  bool padding_not_multiple_of_4(std::uint64_t at, std::uint64_t length);
  bool not_a_stream(std::uint64_t at);
  // Magic bytes whose header fails its CRC32, followed by no block header: a damaged header,
  // or data that looks like one.
  bool magic_without_stream(std::uint64_t at);
  // A stream found inside the data of one walked before it, and a stream header inside the
  // data of two, which is not walked.
  bool stream_inside(std::uint64_t stream, std::uint64_t at, std::uint64_t outer);
  bool stream_not_walked(std::uint64_t at, std::uint64_t inner, std::uint64_t outer);
  bool read_error(std::uint64_t at);
  bool summary(std::uint64_t intact, std::uint64_t damaged, std::uint64_t truncated,
               std::uint64_t faults_between);

private:
  bool line(const char *format, ...)
#ifdef __GNUC__
      __attribute__((format(printf, 2, 3)))
#endif
      ;

  listing_writer &out_;
  bool verdicts_only_;
  bool decoded_;
};

#endif
