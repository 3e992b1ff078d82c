// File analysis of a 4 GiB package of 100 members against reading the same 100 headers with a
// bare pread loop. The package is sparse (headers at their offsets, holes for the data), so
// the cost measured is the walk's own: the analysis must read headers only and skip member
// data whatever its size. Here the ratio is analysis time over bare-read time: smaller is
// better.
#include "engine/file_analysis.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "engine/download_engine.h"
#include "pack/tar_writer.h"
#include "packages/meta_data_key.h"
#include "packages/package_meta_data.h"

namespace {

using Clock = std::chrono::steady_clock;

constexpr int MEMBERS = 100;
constexpr uint64_t PACKAGE_SIZE = uint64_t{4} << 30;
// An odd size, so that every member is padded to whole blocks.
constexpr uint64_t MEMBER_SIZE = PACKAGE_SIZE / MEMBERS - 777;
constexpr int RUNS_PER_BATCH = 50;
constexpr int BATCHES = 60;
constexpr double TARGET = 1.5;

std::vector<uint64_t> HeaderOffsets() {
  std::vector<uint64_t> offsets;
  uint64_t at = 0;
  for (int m = 0; m < MEMBERS; ++m) {
    offsets.push_back(at);
    at += mirk3::TAR_BLOCK_SIZE + mirk3::TarPaddedSize(MEMBER_SIZE);
  }
  offsets.push_back(at);  // the end-of-archive blocks
  return offsets;
}

bool WritePackage(const std::string& path, const std::vector<uint64_t>& offsets) {
  const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  if (fd < 0) return false;
  bool ok = ::ftruncate(fd, static_cast<off_t>(offsets.back() + 2 * mirk3::TAR_BLOCK_SIZE)) == 0;
  for (int m = 0; ok && m < MEMBERS; ++m) {
    char name[32];
    std::snprintf(name, sizeof name, "image%03d.img", m);
    const auto header = mirk3::pack::MakeTarHeader(name, MEMBER_SIZE);
    ok = ::pwrite(fd, header.data(), header.size(), static_cast<off_t>(offsets[m])) ==
         static_cast<ssize_t>(header.size());
  }
  return ::close(fd) == 0 && ok;
}

// The bare loop: open the package, read each header where it is known to be, close.
bool ReadHeaders(const std::string& path, const std::vector<uint64_t>& offsets) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return false;
  char block[mirk3::TAR_BLOCK_SIZE];
  bool ok = true;
  for (int m = 0; m < MEMBERS; ++m) {
    ok = ok && ::pread(fd, block, sizeof block, static_cast<off_t>(offsets[m])) ==
                   static_cast<ssize_t>(sizeof block);
  }
  ::close(fd);
  return ok && block[0] != 0;
}

mirk3::DownloadOptions OptionsFor(const std::string& path) {
  mirk3::DownloadOptions options;
  options.slotEnabled[mirk3::AP] = 1;
  options.slotPath[mirk3::AP] = path;
  return options;
}

std::unique_ptr<mirk3::CDownloadEngine> EngineFor(const std::string& path) {
  mirk3::EngineContext context;
  context.ownExecutablePath = "/dev/null";
  auto engine = std::make_unique<mirk3::CDownloadEngine>(nullptr, 0, context);
  engine->CopyOptions(OptionsFor(path));
  return engine;
}

struct Times {
  double analysis = 1e9;  // the whole step, on a fresh engine as a worker runs it
  double metaData = 1e9;  // the meta-data check the step runs first, on its own
  double walk = 1e9;      // the analysis's own walk over the headers, on its own
  double bare = 1e9;      // the bare header reads
};

using Seconds = std::chrono::duration<double>;

// Seconds of one `run`, or a negative value when it fails.
template <typename Run>
double TimeOne(Run run) {
  const auto start = Clock::now();
  const bool ok = run();
  const Seconds took = Clock::now() - start;
  return ok ? took.count() : -1;
}

// Keeps in `best` the mean time of the batch when it is the fastest so far.
template <typename Run>
bool TimeBatch(double* best, Run run) {
  double total = 0;
  for (int i = 0; i < RUNS_PER_BATCH; ++i) {
    const double one = run();
    if (one < 0) return false;
    total += one;
  }
  *best = std::min(*best, total / RUNS_PER_BATCH);
  return true;
}

bool AnalyseOnce(const std::string& path, double* seconds) {
  const auto engine = EngineFor(path);
  mirk3::DownloadPlan found;
  *seconds = TimeOne([&] {
    found = engine->AnalyseFiles();
    return found.Passed();
  });
  return found.slots[mirk3::AP].members.size() == MEMBERS;
}

// The fastest batch of each kind, the kinds taken in turn so that all see the same load.
bool Measure(const std::string& path, const std::vector<uint64_t>& offsets, Times* times) {
  const mirk3::DownloadOptions options = OptionsFor(path);
  const mirk3::EngineContext context;
  mirk3::ReportChannel reports(nullptr, 0);
  mirk3::FileAnalyser walker(mirk3::ChosenPackages{options, nullptr, path, mirk3::BorrowedFd{}}, context, reports);
  for (int batch = 0; batch < BATCHES; ++batch) {
    const bool ok =
        TimeBatch(&times->analysis,
                  [&] {
                    double seconds = -1;
                    return AnalyseOnce(path, &seconds) ? seconds : -1;
                  }) &&
        TimeBatch(&times->metaData,
                  [&] {
                    return TimeOne([&] {
                      char model[mirk3::PACKAGE_MODEL_SIZE] = {};
                      // An unsigned package: the check walks every header and fails.
                      return !mirk3::VerifyPackageFileMetaData(path, mirk3::BuiltInMetaDataKey(),
                                                               model);
                    });
                  }) &&
        TimeBatch(&times->walk,
                  [&] {
                    mirk3::EntryList list;
                    return TimeOne([&] { return walker.ScanTarPackage(path, list, -1); });
                  }) &&
        TimeBatch(&times->bare,
                  [&] { return TimeOne([&] { return ReadHeaders(path, offsets); }); });
    if (!ok) return false;
  }
  return true;
}

}  // namespace

int main() {
  char dir[] = "/tmp/mirk3-bench-analysis-XXXXXX";
  if (!mkdtemp(dir)) return 1;
  const std::string path = std::string(dir) + "/AP_bench.tar";
  const std::vector<uint64_t> offsets = HeaderOffsets();
  Times times;
  const bool made = WritePackage(path, offsets);
  const bool measured = made && Measure(path, offsets, &times);
  ::unlink(path.c_str());
  ::rmdir(dir);
  if (!measured) {
    std::fprintf(stderr, "%s\n", made ? "the analysis failed" : "cannot write the package");
    return 1;
  }
  const auto perMember = [](double seconds) { return seconds * 1e6 / MEMBERS; };
  std::printf("package: %.2f GiB sparse, %d members of %llu bytes\n",
              static_cast<double>(offsets.back()) / (1 << 30), MEMBERS,
              static_cast<unsigned long long>(MEMBER_SIZE));
  std::printf("file analysis: %.2f us per member (%.0f us per package)\n",
              perMember(times.analysis), times.analysis * 1e6);
  std::printf("  the meta-data check's header walk alone: %.2f us per member\n",
              perMember(times.metaData));
  std::printf("  the step's own header walk alone: %.2f us per member (%.2f x the bare reads)\n",
              perMember(times.walk), times.walk / times.bare);
  std::printf("bare header reads: %.2f us per member (%.0f us per package)\n",
              perMember(times.bare), times.bare * 1e6);
  std::printf("ratio = analysis / bare reads; smaller is better\n");
  std::printf("BENCH file_analysis ratio=%.2f target=%.1f better=lower\n",
              times.analysis / times.bare, TARGET);
  return 0;
}
