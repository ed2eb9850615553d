#ifndef LZMA2_CHUNKS_BASELINE_WALK_H
#define LZMA2_CHUNKS_BASELINE_WALK_H

#include <stdio.h>

#ifdef __cplusplus
extern "C" {
#endif

/* The straightforward walk over buffered stdio: fgetc per byte, fseek over payloads,
   ftell for positions, fprintf per line. The yardstick for speed and a second
   implementation to check the tool's output against, for inputs below 2 GiB. */
void baseline_walk_chunks(FILE *stream, unsigned start_offset, FILE *out);

#ifdef __cplusplus
}
#endif

#endif
