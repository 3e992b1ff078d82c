#include "packages/one_click_program.h"

namespace mirk3 {

std::optional<OneClickTrailer> ReadOneClickTrailer(const OpenedFile& file) {
  if (file.size < ONECLICK_TRAILER_SIZE) return std::nullopt;
  uint8_t bytes[ONECLICK_TRAILER_SIZE];
  if (!ReadExactAt(file.fd.Get(), bytes, sizeof bytes, file.size - ONECLICK_TRAILER_SIZE)) {
    return std::nullopt;
  }
  OneClickTrailer trailer = OneClickTrailer::Parse(bytes);
  if (!trailer.TitleMatches()) return std::nullopt;
  return trailer;
}

std::optional<OneClickTrailer> ReadOneClickTrailer(const std::string& path) {
  const Result<OpenedFile> file = OpenRegularFile(path);
  if (!file) return std::nullopt;
  return ReadOneClickTrailer(*file);
}

}  // namespace mirk3
