// DecodeBase64Line's rate on a 50 MB attachment run in 76-character lines
// (as the server breaks it) from a response file into a part file, and with
// the /D331 mapping on. Reports the decoded megabytes per second.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "platform/file_guard.h"
#include "plugin/run_settings.h"
#include "reader/base64_decode.h"

namespace {

const size_t kDecodedBytes = 50u * 1000u * 1000u;

// The base64 text of kDecodedBytes pseudo-random bytes, CR LF every 76
// characters, followed by the part's end tag.
std::string MakeRun() {
  static const char kAlphabet[] =
      "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  std::string text;
  text.reserve(kDecodedBytes / 3 * 4 * 78 / 76 + 64);
  uint32_t seed = 1;
  size_t column = 0;
  for (size_t i = 0; i < kDecodedBytes; i += 3) {
    seed = seed * 1664525u + 1013904223u;
    uint32_t v = seed >> 8;
    for (int shift = 18; shift >= 0; shift -= 6) {
      text += kAlphabet[(v >> shift) & 63];
      if (++column == 76) {
        text += "\r\n";
        column = 0;
      }
    }
  }
  return text + "\r\n</gwm:part>\r\n";
}

struct BenchFiles {
  std::string input;
  std::string output;
};

BenchFiles Prepare() {
  static BenchFiles files;
  if (!files.input.empty()) return files;
  const char *tmp = getenv("TMPDIR");
  std::string dir = tmp != nullptr ? tmp : "/tmp";
  files.input = dir + "/bench_base64_in.tmp";
  files.output = dir + "/bench_base64_out.tmp";
  std::string run = MakeRun();
  FilePtr file = OpenFile(files.input.c_str(), "wb");
  if (file) fwrite(run.data(), 1, run.size(), file.get());
  return files;
}

void DecodeRun(benchmark::State &state) {
  BenchFiles files = Prepare();
  gRunSettings.d331 = static_cast<int32_t>(state.range(0));
  long decoded = 0;
  for (auto _ : state) {
    FilePtr input = OpenFile(files.input.c_str(), "rb");
    FilePtr output = OpenFile(files.output.c_str(), "wb");
    if (!input || !output) {
      state.SkipWithError("cannot open the bench files");
      break;
    }
    decoded = DecodeBase64Line(input.get(), output.get());
    benchmark::DoNotOptimize(decoded);
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * decoded);
  gRunSettings.d331 = 0;
}
BENCHMARK(DecodeRun)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond)->Iterations(3);

}  // namespace

int main(int argc, char **argv) {
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  BenchFiles files = Prepare();
  remove(files.input.c_str());
  remove(files.output.c_str());
  return 0;
}
