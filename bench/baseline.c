/* baseline FILE OFFSET: the straightforward chunk lister the benchmark times the tool
   against. */

#include "baseline_walk.h"

#include <stdio.h>

int main(int argc, char **argv) {
  unsigned start_offset = 0;
  FILE *stream;
  if (argc < 3)
    return 2;
  stream = fopen(argv[1], "rb");
  if (stream == NULL)
    return 1;
  sscanf(argv[2], "%X", &start_offset);
  printf("ofs=%X\n", start_offset);
  baseline_walk_chunks(stream, start_offset, stdout);
  return 0;
}
