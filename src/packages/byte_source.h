// Random-access byte sources that package walks read from: a package file opened for shared
// reading, or bytes in memory. Reads name their position, so a walk never depends on a stream
// position and a source that ends early simply returns fewer bytes.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "base/file.h"

namespace mirk3 {

class ByteSource {
 public:
  virtual ~ByteSource() = default;
  // Length of the source in bytes when it was opened.
  virtual uint64_t Length() const = 0;
  // Reads up to `length` bytes at `position`; returns how many arrived (fewer at the end of
  // the source or on a read error).
  virtual size_t ReadAt(uint64_t position, void* out, size_t length) const = 0;

  // True when all `length` bytes arrived.
  bool ReadExactly(uint64_t position, void* out, size_t length) const {
    return ReadAt(position, out, length) == length;
  }
};

// A regular file, read with positioned reads (several threads may share one).
class FileByteSource : public ByteSource {
 public:
  // Opens `path` read-only. Fails for anything but a regular file, so that a FIFO or a device
  // never holds a check up; OpenError() then says why in the operator's words, and errno is
  // open's error, EISDIR for a directory or EINVAL for another kind of file.
  bool Open(const std::string& path);
  const std::string& OpenError() const { return openError_; }
  // The open file, for fstat; the source keeps owning it.
  int Descriptor() const { return fd_.Get(); }

  uint64_t Length() const override { return length_; }
  size_t ReadAt(uint64_t position, void* out, size_t length) const override;

 private:
  UniqueFd fd_;
  uint64_t length_ = 0;
  std::string openError_;
};

// Bytes held elsewhere; the caller keeps them alive.
class MemoryByteSource : public ByteSource {
 public:
  explicit MemoryByteSource(std::string_view bytes) : bytes_(bytes) {}
  uint64_t Length() const override { return bytes_.size(); }
  size_t ReadAt(uint64_t position, void* out, size_t length) const override;

 private:
  std::string_view bytes_;
};

}  // namespace mirk3
