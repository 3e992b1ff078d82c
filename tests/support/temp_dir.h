// A temporary directory for one test, removed with everything in it when the test ends.
#pragma once

#include <filesystem>
#include <string>

namespace mirk3::test {

class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;

  const std::filesystem::path& Path() const { return path_; }
  std::string operator/(const std::string& name) const { return (path_ / name).string(); }

 private:
  std::filesystem::path path_;
};

// Writes `bytes` to `path`, replacing the file.
void WriteFile(const std::string& path, const std::string& bytes);
// The whole content of `path`; empty when it cannot be read.
std::string ReadFile(const std::string& path);

}  // namespace mirk3::test
