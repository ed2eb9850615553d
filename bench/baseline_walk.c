#include "baseline_walk.h"

void baseline_walk_chunks(FILE *stream, unsigned start_offset, FILE *out) {
  long offset;
  int control;
  fseek(stream, start_offset, SEEK_SET);
  for (;;) {
    offset = ftell(stream);
    control = fgetc(stream);
    int hi = fgetc(stream) & 0xFF;
    int lo = fgetc(stream) & 0xFF;
    int size = hi * 256 + lo + 1;
    if (control == 0)
      break;
    if (control == 1 || control == 2) {
      fprintf(out, "%08X: %02X u=%i\n", (unsigned)offset, control, size);
      fseek(stream, size, SEEK_CUR);
    } else if (control >= 0x80 && control <= 0xBF) {
      int ph = fgetc(stream) & 0xFF;
      int pl = fgetc(stream) & 0xFF;
      int packed_size = ph * 256 + pl + 1;
      int unpacked_size = (control & 0x1F) * 65536 + size;
      fprintf(out, "%08X: %02X u=%i p=%i\n", (unsigned)offset, control & 0xE0, unpacked_size,
              packed_size);
      fseek(stream, packed_size, SEEK_CUR);
    } else if (control >= 0xC0 && control <= 0xFF) {
      int ph = fgetc(stream) & 0xFF;
      int pl = fgetc(stream) & 0xFF;
      unsigned props = (unsigned)fgetc(stream) & 0xFF;
      int packed_size = ph * 256 + pl + 1;
      int unpacked_size = (control & 0x1F) * 65536 + size;
      fprintf(out, "%08X: %02X u=%i p=%i s=%02X\n", (unsigned)offset, control & 0xE0, unpacked_size,
              packed_size, props);
      fseek(stream, packed_size, SEEK_CUR);
    } else {
      break;
    }
  }
  fprintf(out, "%08X: %02X ", (unsigned)offset, (unsigned)control);
}
