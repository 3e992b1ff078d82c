#include "support/scratch_dir.h"

#include <fcntl.h>
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <filesystem>

namespace mirk3::fuzz {
namespace {

void RemoveScratch() {
  std::error_code ignored;
  std::filesystem::remove_all(ScratchDir(), ignored);
}

}  // namespace

const std::string& ScratchDir() {
  // Never destroyed: the exit handler below still needs it.
  static const std::string* dir = [] {
    char pattern[] = "/tmp/mirk3-fuzz-XXXXXX";
    if (!mkdtemp(pattern)) std::abort();
    auto* made = new std::string(pattern);
    std::atexit(RemoveScratch);
    return made;
  }();
  return *dir;
}

std::string WriteScratchFile(const std::string& name, const void* data, size_t size) {
  const std::string path = ScratchDir() + "/" + name;
  const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0600);
  if (fd < 0) std::abort();
  const auto* bytes = static_cast<const uint8_t*>(data);
  for (size_t done = 0; done < size;) {
    const ssize_t n = ::pwrite(fd, bytes + done, size - done, static_cast<off_t>(done));
    if (n <= 0) std::abort();
    done += static_cast<size_t>(n);
  }
  if (::ftruncate(fd, static_cast<off_t>(size)) != 0) std::abort();
  ::close(fd);
  return path;
}

}  // namespace mirk3::fuzz
