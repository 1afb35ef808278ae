// Compresses every file of a folder in 16 KiB chunks, each an independent zlib stream, with
// zlib and libdeflate at several levels on one core, and prints the archive bytes each would
// give (a chunk whose stream does not fit into 16384 bytes is stored) beside its speed. The
// numbers behind the mapping of TCompressionLevel onto the libraries' levels.
// Usage: backup_levels FOLDER
#include <libdeflate.h>
#include <zlib.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <time.h>
#include <vector>

namespace {

constexpr size_t kChunk = 16384;

// CPU time of this thread: a per-core speed that other load on the machine does not skew.
double CpuSeconds() {
  timespec now{};
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
  return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) / 1e9;
}

struct TResult {
  size_t Bytes = 0;
  double Seconds = 0;
};

template <typename Compress>
TResult Measure(const std::vector<std::string> &files, Compress compress) {
  std::vector<unsigned char> out(kChunk);
  TResult result;
  const double start = CpuSeconds();
  for (const auto &file : files)
    for (size_t at = 0; at < file.size(); at += kChunk) {
      const size_t count = std::min(kChunk, file.size() - at);
      const size_t packed = compress(reinterpret_cast<const unsigned char *>(file.data()) + at,
                                     count, out.data(), out.size());
      result.Bytes += 4 + (packed ? packed : count);
    }
  result.Seconds = CpuSeconds() - start;
  return result;
}

TResult Zlib(const std::vector<std::string> &files, int level) {
  z_stream s{};
  deflateInit2(&s, level, Z_DEFLATED, 15, 8, Z_DEFAULT_STRATEGY);
  const TResult result =
      Measure(files, [&](const unsigned char *in, size_t count, unsigned char *out, size_t room) {
        deflateReset(&s);
        s.next_in = const_cast<unsigned char *>(in);
        s.avail_in = static_cast<uInt>(count);
        s.next_out = out;
        s.avail_out = static_cast<uInt>(room);
        return deflate(&s, Z_FINISH) == Z_STREAM_END ? room - s.avail_out : 0;
      });
  deflateEnd(&s);
  return result;
}

TResult Libdeflate(const std::vector<std::string> &files, int level) {
  libdeflate_compressor *c = libdeflate_alloc_compressor(level);
  const TResult result =
      Measure(files, [&](const unsigned char *in, size_t count, unsigned char *out, size_t room) {
        return libdeflate_zlib_compress(c, in, count, out, room);
      });
  libdeflate_free_compressor(c);
  return result;
}

} // namespace

int main(int argc, char **argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: backup_levels FOLDER\n");
    return 2;
  }
  std::vector<std::string> files;
  size_t total = 0;
  for (const auto &entry : std::filesystem::directory_iterator(argv[1])) {
    std::ifstream in(entry.path(), std::ios::binary);
    files.emplace_back(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    total += files.back().size();
  }
  std::printf("%-14s %14s %8s %10s\n", "compressor", "archive bytes", "ratio", "MB/s/core");
  auto row = [&](const char *name, int level, const TResult &r) {
    std::printf("%-10s %3d %14zu %8.3f %10.1f\n", name, level, r.Bytes,
                static_cast<double>(r.Bytes) / static_cast<double>(total),
                static_cast<double>(total) / 1e6 / r.Seconds);
  };
  for (int level : {1, 6, 9})
    row("zlib", level, Zlib(files, level));
  for (int level : {1, 2, 4, 6, 8, 9, 10, 12})
    row("libdeflate", level, Libdeflate(files, level));
  return 0;
}
