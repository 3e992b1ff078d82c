// Reading an INI file the way the station's settings have always been read on Windows: section
// and key names compared without regard to case, blanks around names and values dropped, one
// pair of quotes around a value removed, a value cut at 259 characters, the first occurrence of
// a section or key winning over later ones, and numbers taken from the leading digits. The
// station only ever reads this file.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace mirk3 {

// The longest value a read returns, in characters: the Windows reader's 260-character buffer
// keeps room for its terminator.
inline constexpr size_t PROFILE_VALUE_CHARS = 259;

// A signed decimal from the leading digits of `text` (blanks and one sign may precede them);
// anything else is 0. Values beyond 32 bits are held at the nearest limit.
int32_t ProfileInteger(std::string_view text);

// A settings file is a few KiB; anything beyond this is not one (or is /dev/zero).
inline constexpr uint64_t INI_FILE_LIMIT = 1 << 20;

class IniFile;

// A settings file as read from its path: the file, or why there is none. `absent` only when
// nothing is at the path: a directory, a FIFO, a device (but /dev/null, an empty file), an
// unreadable or an oversized file is a problem of its own, said in `problem`.
struct IniFileRead;

class IniFile {
 public:
  struct Entry {
    std::string key;
    std::string value;
    int line = 0;  // 1-based, for messages about the file
  };
  struct Section {
    std::string name;
    std::vector<Entry> entries;  // in file order, repeats included
  };

  // The file's contents; nothing when it cannot be read (absent, a directory, unreadable).
  static std::optional<IniFile> Load(const std::string& path);
  // The same, saying why there is no file. Never waits: a FIFO is refused, not read.
  static IniFileRead Read(const std::string& path);
  static IniFile Parse(std::string_view text);

  // The value of [section] key, or `fallback` when either is absent. Both are cut at 259
  // characters, as the reader's buffer cuts them.
  std::string String(std::string_view section, std::string_view key,
                     std::string_view fallback) const;
  // ProfileInteger of String().
  int32_t Integer(std::string_view section, std::string_view key,
                  std::string_view fallback) const;
  bool Has(std::string_view section, std::string_view key) const;
  // The first section of that name, with every entry in file order; null when absent.
  const Section* FindSection(std::string_view section) const;
  const std::vector<Section>& Sections() const { return sections_; }

 private:
  const Entry* Find(std::string_view section, std::string_view key) const;

  std::vector<Section> sections_;
};

struct IniFileRead {
  std::optional<IniFile> file;
  bool absent = false;
  std::string problem;  // "a pipe, not a regular file", "permission denied", ...
};

}  // namespace mirk3
