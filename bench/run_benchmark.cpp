// run_benchmark [DATA_DIR] [--runs N]: times lzma2-chunks against the straightforward
// baseline on generated inputs and prints a markdown table; exits non-zero when the output
// differs from the baseline's or a target is missed. Inputs are cached in DATA_DIR
// (default build/bench-data).

#include <algorithm>
#include <cerrno>
#include <cinttypes>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <string>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <sys/utsname.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

#ifndef LZMA2_CHUNKS_BINARY
#error "LZMA2_CHUNKS_BINARY must name the tool"
#endif
#ifndef BASELINE_BINARY
#error "BASELINE_BINARY must name the baseline"
#endif

namespace {

constexpr std::uint64_t kib = 1024;
constexpr std::uint64_t mib = 1024 * kib;
constexpr std::uint64_t gib = 1024 * mib;
constexpr long rss_limit_kib = 4096;
// The baseline prints positions as 32 bits, so its output only agrees below this.
constexpr std::uint64_t comparable_size = 2 * gib;

[[noreturn]] void die(const std::string &what) {
  std::fprintf(stderr, "run_benchmark: %s\n", what.c_str());
  std::exit(2);
}

[[noreturn]] void die_errno(const std::string &what) {
  die(what + ": " + std::strerror(errno));
}

// Small fixed-seed generator, so every machine benchmarks the same bytes.
class xorshift {
public:
  explicit xorshift(std::uint64_t seed) : state_(seed) {}
  std::uint64_t next() {
    state_ ^= state_ << 13;
    state_ ^= state_ >> 7;
    state_ ^= state_ << 17;
    return state_;
  }

private:
  std::uint64_t state_;
};

// Buffered writes to a file created under a temporary name; commit() renames it into
// place, so a file found under its final name is always complete.
class output_file {
public:
  explicit output_file(const std::string &path) : path_(path), temporary_(path + ".partial") {
    fd_ = open(temporary_.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (fd_ < 0)
      die_errno("cannot create " + temporary_);
  }
  output_file(const output_file &) = delete;
  output_file &operator=(const output_file &) = delete;
  ~output_file() {
    if (fd_ >= 0) {
      close(fd_);
      unlink(temporary_.c_str());
    }
  }

  void put(const void *data, std::size_t length) {
    const auto *bytes = static_cast<const unsigned char *>(data);
    while (length > 0) {
      if (used_ == sizeof buffer_)
        flush();
      const std::size_t n = std::min(length, sizeof buffer_ - used_);
      std::memcpy(buffer_ + used_, bytes, n);
      used_ += n;
      bytes += n;
      length -= n;
    }
  }
  void put_byte(unsigned char byte) { put(&byte, 1); }

  // Writes bytes at an absolute position, leaving a hole before them.
  void put_at(std::uint64_t position, const void *data, std::size_t length) {
    flush();
    if (pwrite(fd_, data, length, static_cast<off_t>(position)) != static_cast<ssize_t>(length))
      die_errno("cannot write " + temporary_);
  }
  void set_size(std::uint64_t size) {
    flush();
    if (ftruncate(fd_, static_cast<off_t>(size)) != 0)
      die_errno("cannot size " + temporary_);
  }

  int fd() const { return fd_; }
  const std::string &temporary_path() const { return temporary_; }

  void commit() {
    flush();
    if (close(fd_) != 0)
      die_errno("cannot write " + temporary_);
    fd_ = -1;
    if (rename(temporary_.c_str(), path_.c_str()) != 0)
      die_errno("cannot rename " + temporary_);
  }

private:
  void flush() {
    std::size_t done = 0;
    while (done < used_) {
      const ssize_t n = write(fd_, buffer_ + done, used_ - done);
      if (n < 0 && errno == EINTR)
        continue;
      if (n <= 0)
        die_errno("cannot write " + temporary_);
      done += static_cast<std::size_t>(n);
    }
    used_ = 0;
  }

  std::string path_;
  std::string temporary_;
  int fd_;
  std::size_t used_ = 0;
  unsigned char buffer_[64 * 1024];
};

bool file_size(const std::string &path, std::uint64_t &size) {
  struct stat st {};
  if (stat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode))
    return false;
  size = static_cast<std::uint64_t>(st.st_size);
  return true;
}

struct run_result {
  double seconds = 0;
  long max_rss_kib = 0;
  int exit_status = -1; // -1 when the process did not exit normally
};

// Runs program with args as a whole process, standard output to stdout_path and standard
// input from stdin_path (if given). The child's peak RSS starts from what fork copies of
// this process, so callers keep large buffers out of it while timing.
run_result run_process(const std::vector<std::string> &args, const std::string &stdout_path,
                       const std::string &stdin_path = "") {
  std::vector<char *> argv;
  argv.reserve(args.size() + 1);
  for (const std::string &arg : args)
    argv.push_back(const_cast<char *>(arg.c_str()));
  argv.push_back(nullptr);

  timespec start{};
  clock_gettime(CLOCK_MONOTONIC, &start);
  const pid_t pid = fork();
  if (pid < 0)
    die_errno("fork");
  if (pid == 0) {
    const int out = open(stdout_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (out < 0 || dup2(out, STDOUT_FILENO) < 0)
      _exit(126);
    if (!stdin_path.empty()) {
      const int in = open(stdin_path.c_str(), O_RDONLY);
      if (in < 0 || dup2(in, STDIN_FILENO) < 0)
        _exit(126);
    }
    execvp(argv[0], argv.data());
    _exit(127);
  }
  int status = 0;
  rusage usage{};
  while (wait4(pid, &status, 0, &usage) < 0)
    if (errno != EINTR)
      die_errno("wait4");
  timespec end{};
  clock_gettime(CLOCK_MONOTONIC, &end);

  run_result result;
  result.seconds = static_cast<double>(end.tv_sec - start.tv_sec) +
                   static_cast<double>(end.tv_nsec - start.tv_nsec) * 1e-9;
  result.max_rss_kib = usage.ru_maxrss;
  result.exit_status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  return result;
}

// --- Inputs -----------------------------------------------------------------------------

struct input_spec {
  std::string name;
  std::string file;         // path in the data directory
  std::string offset;       // the OFFSET argument, hexadecimal
  double speedup_target;    // 0: no speed target
  std::string expected_out; // for inputs the baseline cannot check: the exact listing
};

// 4,194,304 stored chunks of one byte each, then the end marker.
void make_dense(const std::string &path) {
  output_file out(path);
  for (std::uint32_t i = 0; i < 4 * 1024 * 1024; ++i) {
    const unsigned char chunk[] = {0x01, 0x00, 0x00, static_cast<unsigned char>(i)};
    out.put(chunk, sizeof chunk);
  }
  out.put_byte(0x00);
  out.commit();
}

// 2,097,152 compressed chunks with properties and a one-byte payload, then the end marker.
void make_dense_compressed(const std::string &path) {
  output_file out(path);
  for (std::uint32_t i = 0; i < 2 * 1024 * 1024; ++i) {
    const unsigned char chunk[] = {
        0xE0, 0x00, 0x00, 0x00, 0x00, 0x5D, static_cast<unsigned char>(i)};
    out.put(chunk, sizeof chunk);
  }
  out.put_byte(0x00);
  out.commit();
}

constexpr std::uint32_t seek_bound_chunks = 81920;
constexpr std::uint64_t seek_bound_chunk_length = 3 + 65536;
constexpr std::uint64_t seek_bound_size = seek_bound_chunks * seek_bound_chunk_length + 1;

// 81,920 stored chunks of 64 KiB over 5 GiB; only the headers are written, the payloads
// are holes.
void make_seek_bound(const std::string &path) {
  output_file out(path);
  const unsigned char header[] = {0x01, 0xFF, 0xFF};
  for (std::uint64_t i = 0; i < seek_bound_chunks; ++i)
    out.put_at(i * seek_bound_chunk_length, header, sizeof header);
  const unsigned char end_marker = 0x00;
  out.put_at(seek_bound_chunks * seek_bound_chunk_length, &end_marker, 1);
  out.set_size(seek_bound_size);
  out.commit();
}

// The listing of the seek-bound file, from the tool's format strings.
void make_seek_bound_listing(const std::string &path) {
  std::FILE *out = std::fopen(path.c_str(), "w");
  if (out == nullptr)
    die_errno("cannot create " + path);
  std::fprintf(out, "ofs=0\n");
  for (std::uint64_t i = 0; i < seek_bound_chunks; ++i)
    std::fprintf(out, "%08" PRIX64 ": 01 u=65536\n", i * seek_bound_chunk_length);
  std::fprintf(out, "%08" PRIX64 ": 00 ", seek_bound_chunks * seek_bound_chunk_length);
  if (std::fclose(out) != 0)
    die_errno("cannot write " + path);
}

constexpr std::uint64_t real_data_size = 64 * mib;

// Text-like bytes: words from a small vocabulary, in lines.
void put_text(output_file &out, xorshift &random, std::uint64_t length) {
  static const char *const words[] = {
      "chunk", "header", "stream", "lzma2", "offset", "packed", "size", "dictionary",
      "reset", "state",  "props",  "block", "index",  "the",    "of",   "and",
      "a",     "to",     "in",     "is",    "data",   "file",   "end",  "marker",
      "byte",  "window", "page",   "read",  "skip",   "list",   "line", "format"};
  std::uint64_t written = 0;
  int on_line = 0;
  while (written < length) {
    const char *word = words[random.next() % (sizeof words / sizeof words[0])];
    const std::size_t n = std::min<std::uint64_t>(std::strlen(word), length - written);
    out.put(word, n);
    written += n;
    if (written < length) {
      out.put_byte(++on_line % 12 == 0 ? '\n' : ' ');
      ++written;
    }
  }
}

void put_random(output_file &out, xorshift &random, std::uint64_t length) {
  for (std::uint64_t i = 0; i < length; i += 8) {
    const std::uint64_t word = random.next();
    out.put(&word, static_cast<std::size_t>(std::min<std::uint64_t>(8, length - i)));
  }
}

// 64 MiB of text and random data in alternating runs of 16 KiB to 1 MiB, compressed by xz
// into one block, so the LZMA2 data holds both compressed and stored chunks.
void make_real(const std::string &path) {
  const std::string raw_path = path + ".raw";
  {
    output_file raw(raw_path);
    xorshift random(0x9E3779B97F4A7C15u);
    bool text = true;
    for (std::uint64_t done = 0; done < real_data_size; text = !text) {
      const std::uint64_t run =
          std::min(real_data_size - done, 16 * kib + random.next() % (1008 * kib));
      if (text)
        put_text(raw, random, run);
      else
        put_random(raw, random, run);
      done += run;
    }
    raw.commit();
  }
  output_file xz_out(path);
  std::fprintf(stderr, "  compressing with xz -T1 -6 (takes a while)\n");
  const run_result xz = run_process({"xz", "-T1", "-6", "-c"}, xz_out.temporary_path(), raw_path);
  unlink(raw_path.c_str());
  if (xz.exit_status != 0)
    die("xz failed; it is needed for the real input (apt-get install xz-utils)");
  xz_out.commit();
}

// Where the LZMA2 data of the first block starts: after the 12-byte stream header and the
// block header, whose first byte gives its size.
std::string real_offset(const std::string &path) {
  const int fd = open(path.c_str(), O_RDONLY);
  unsigned char header[13];
  if (fd < 0 || pread(fd, header, sizeof header, 0) != static_cast<ssize_t>(sizeof header) ||
      std::memcmp(header,
                  "\xFD"
                  "7zXZ\0",
                  6) != 0)
    die("not an .xz file: " + path);
  close(fd);
  char text[32];
  std::snprintf(text, sizeof text, "%X", 12 + (header[12] + 1) * 4);
  return text;
}

bool real_file_complete(const std::string &path) {
  std::uint64_t size = 0;
  if (!file_size(path, size) || size < 32)
    return false;
  const int fd = open(path.c_str(), O_RDONLY);
  unsigned char footer[2];
  const bool ok = fd >= 0 && pread(fd, footer, 2, static_cast<off_t>(size - 2)) == 2 &&
                  footer[0] == 'Y' && footer[1] == 'Z';
  if (fd >= 0)
    close(fd);
  return ok;
}

void ensure_input(const std::string &path, std::uint64_t size, void (*make)(const std::string &)) {
  std::uint64_t found = 0;
  if (file_size(path, found) && found == size)
    return;
  std::fprintf(stderr, "generating %s\n", path.c_str());
  make(path);
}

// --- Checks ---------------------------------------------------------------------------

// True if the two files hold the same bytes; otherwise says where they part.
bool same_contents(const std::string &a, const std::string &b) {
  std::FILE *fa = std::fopen(a.c_str(), "rb");
  std::FILE *fb = std::fopen(b.c_str(), "rb");
  if (fa == nullptr || fb == nullptr)
    die_errno("cannot read outputs");
  static char block_a[64 * 1024];
  static char block_b[64 * 1024];
  std::uint64_t at = 0;
  bool same = true;
  for (;;) {
    const std::size_t na = std::fread(block_a, 1, sizeof block_a, fa);
    const std::size_t nb = std::fread(block_b, 1, sizeof block_b, fb);
    const std::size_t n = std::min(na, nb);
    const auto parted = std::mismatch(block_a, block_a + n, block_b);
    if (parted.first != block_a + n || na != nb) {
      at += static_cast<std::uint64_t>(parted.first - block_a);
      std::fprintf(stderr, "  %s and %s differ at byte %" PRIu64 "\n", a.c_str(), b.c_str(), at);
      same = false;
      break;
    }
    if (n == 0)
      break;
    at += n;
  }
  std::fclose(fa);
  std::fclose(fb);
  return same;
}

std::vector<std::string> tool_command(const std::string &program, const input_spec &input) {
  return {program, input.file, input.offset};
}

bool check_output(const input_spec &input, const std::string &data_dir) {
  const std::string tool_out = data_dir + "/tool.out";
  const std::string reference_out = data_dir + "/reference.out";
  const run_result tool = run_process(tool_command(LZMA2_CHUNKS_BINARY, input), tool_out);
  std::string reference_name = "baseline";
  if (input.expected_out.empty()) {
    const run_result baseline = run_process(tool_command(BASELINE_BINARY, input), reference_out);
    if (baseline.exit_status != 0)
      die("baseline failed on " + input.file);
  } else {
    reference_name = "expected listing";
    if (rename(input.expected_out.c_str(), reference_out.c_str()) != 0)
      die_errno("cannot move " + input.expected_out);
  }
  const bool same = tool.exit_status == 0 && same_contents(tool_out, reference_out);
  std::fprintf(stderr, "check %-17s tool output %s %s\n", input.name.c_str(),
               same ? "equals" : "DIFFERS FROM", reference_name.c_str());
  if (tool.exit_status != 0)
    std::fprintf(stderr, "  tool exit status %d\n", tool.exit_status);
  unlink(tool_out.c_str());
  unlink(reference_out.c_str());
  return same;
}

// --- Timing ---------------------------------------------------------------------------

struct timing {
  double tool_median = 0;
  double baseline_median = 0;
  long tool_rss_kib = 0;
  long baseline_rss_kib = 0;
};

double median(std::vector<double> values) {
  std::sort(values.begin(), values.end());
  const std::size_t n = values.size();
  return n % 2 == 1 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

timing time_input(const input_spec &input, int runs) {
  const std::vector<std::string> tool = tool_command(LZMA2_CHUNKS_BINARY, input);
  const std::vector<std::string> baseline = tool_command(BASELINE_BINARY, input);
  std::vector<double> tool_times;
  std::vector<double> baseline_times;
  timing t;
  auto run = [&](const std::vector<std::string> &command, std::vector<double> *times, long &rss) {
    const run_result r = run_process(command, "/dev/null");
    if (r.exit_status != 0)
      die(command[0] + " failed on " + input.file);
    if (times != nullptr) {
      times->push_back(r.seconds);
      rss = std::max(rss, r.max_rss_kib);
    }
  };
  long unused = 0;
  run(tool, nullptr, unused); // warm-up: page cache, dynamic loader
  run(baseline, nullptr, unused);
  // Alternating, and in turns starting with either program, so drift hits both alike.
  for (int i = 0; i < runs; ++i) {
    if (i % 2 == 0) {
      run(tool, &tool_times, t.tool_rss_kib);
      run(baseline, &baseline_times, t.baseline_rss_kib);
    } else {
      run(baseline, &baseline_times, t.baseline_rss_kib);
      run(tool, &tool_times, t.tool_rss_kib);
    }
  }
  t.tool_median = median(tool_times);
  t.baseline_median = median(baseline_times);
  return t;
}

// --- Report ---------------------------------------------------------------------------

std::string cpu_model() {
  std::FILE *f = std::fopen("/proc/cpuinfo", "r");
  std::string model = "unknown";
  if (f == nullptr)
    return model;
  char line[512];
  while (std::fgets(line, sizeof line, f) != nullptr) {
    if (std::strncmp(line, "model name", 10) == 0) {
      const char *colon = std::strchr(line, ':');
      if (colon != nullptr) {
        model = colon + 1;
        model.erase(0, model.find_first_not_of(" \t"));
        model.erase(model.find_last_not_of(" \t\n") + 1);
      }
      break;
    }
  }
  std::fclose(f);
  return model;
}

std::string human_size(std::uint64_t bytes) {
  char text[32];
  if (bytes >= gib)
    std::snprintf(text, sizeof text, "%.1f GiB", static_cast<double>(bytes) / gib);
  else
    std::snprintf(text, sizeof text, "%.1f MiB", static_cast<double>(bytes) / mib);
  return text;
}

std::string milliseconds(double seconds) {
  char text[32];
  std::snprintf(text, sizeof text, "%.1f ms", seconds * 1000);
  return text;
}

} // namespace

int main(int argc, char **argv) {
  std::string data_dir = "build/bench-data";
  int runs = 7;
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--runs") == 0 && i + 1 < argc) {
      runs = std::atoi(argv[++i]);
      if (runs < 5)
        die("--runs must be at least 5");
    } else if (argv[i][0] == '-') {
      std::fprintf(stderr, "usage: run_benchmark [DATA_DIR] [--runs N]\n");
      return 2;
    } else {
      data_dir = argv[i];
    }
  }
  if (mkdir(data_dir.c_str(), 0755) != 0 && errno != EEXIST)
    die_errno("cannot create " + data_dir);

  std::vector<input_spec> inputs = {
      {"dense", data_dir + "/dense.lzma2", "0", 5.0, ""},
      {"dense compressed", data_dir + "/dense-compressed.lzma2", "0", 5.0, ""},
      {"seek-bound", data_dir + "/seek-bound.lzma2", "0", 1.1, data_dir + "/seek-bound.expected"},
      {"real .xz", data_dir + "/real.xz", "", 0, ""}};
  ensure_input(inputs[0].file, std::uint64_t{16} * mib + 1, make_dense);
  ensure_input(inputs[1].file, std::uint64_t{14} * mib + 1, make_dense_compressed);
  ensure_input(inputs[2].file, seek_bound_size, make_seek_bound);
  make_seek_bound_listing(inputs[2].expected_out);
  if (!real_file_complete(inputs[3].file)) {
    std::fprintf(stderr, "generating %s\n", inputs[3].file.c_str());
    make_real(inputs[3].file);
  }
  inputs[3].offset = real_offset(inputs[3].file);

  bool all_same = true;
  for (const input_spec &input : inputs) {
    std::uint64_t size = 0;
    file_size(input.file, size);
    if (size >= comparable_size && input.expected_out.empty())
      die("no reference output for " + input.file);
    all_same = check_output(input, data_dir) && all_same;
  }
  if (!all_same) {
    std::fprintf(stderr, "run_benchmark: outputs differ, not timing\n");
    return 1;
  }

  utsname machine{};
  uname(&machine);
  char date[64];
  const std::time_t now = std::time(nullptr);
  std::strftime(date, sizeof date, "%Y-%m-%d %H:%M UTC", std::gmtime(&now));
  std::printf("Machine: %s, %ld CPUs, Linux %s. Date: %s. Median of %d runs of each "
              "program after a warm-up, alternating, output to /dev/null.\n\n",
              cpu_model().c_str(), sysconf(_SC_NPROCESSORS_ONLN), machine.release, date, runs);
  std::printf("| input | size | lzma2-chunks | baseline | speedup | target | tool peak RSS "
              "| baseline peak RSS | met |\n");
  std::printf("|---|---|---|---|---|---|---|---|---|\n");
  std::fflush(stdout);

  bool all_met = true;
  for (const input_spec &input : inputs) {
    std::fprintf(stderr, "timing %s\n", input.name.c_str());
    const timing t = time_input(input, runs);
    const double speedup = t.baseline_median / t.tool_median;
    const bool met = speedup >= input.speedup_target && t.tool_rss_kib <= rss_limit_kib;
    all_met = all_met && met;
    std::uint64_t size = 0;
    file_size(input.file, size);
    char target[64];
    if (input.speedup_target > 0)
      std::snprintf(target, sizeof target, "≥ %.1fx, RSS ≤ %ld KiB", input.speedup_target,
                    rss_limit_kib);
    else
      std::snprintf(target, sizeof target, "RSS ≤ %ld KiB", rss_limit_kib);
    std::printf("| %s | %s | %s | %s | %.2fx | %s | %ld KiB | %ld KiB | %s |\n", input.name.c_str(),
                human_size(size).c_str(), milliseconds(t.tool_median).c_str(),
                milliseconds(t.baseline_median).c_str(), speedup, target, t.tool_rss_kib,
                t.baseline_rss_kib, met ? "yes" : "NO");
    std::fflush(stdout);
  }
  return all_met ? 0 : 1;
}
