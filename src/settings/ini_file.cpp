#include "settings/ini_file.h"

#include <sys/stat.h>
#include <sys/sysmacros.h>

#include "base/file.h"
#include "base/text.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <climits>

namespace mirk3 {
namespace {

constexpr std::string_view BLANKS = " \t\r\v\f";

std::string_view Trim(std::string_view text) {
  const size_t first = text.find_first_not_of(BLANKS);
  if (first == std::string_view::npos) return {};
  const size_t last = text.find_last_not_of(BLANKS);
  return text.substr(first, last - first + 1);
}

// One pair of matching quotes around the whole value goes.
std::string_view Unquote(std::string_view value) {
  if (value.size() >= 2 && (value.front() == '"' || value.front() == '\'') &&
      value.back() == value.front()) {
    return value.substr(1, value.size() - 2);
  }
  return value;
}

}  // namespace

int32_t ProfileInteger(std::string_view text) {
  size_t i = text.find_first_not_of(" \t\r\n\v\f");
  if (i == std::string_view::npos) return 0;
  bool negative = false;
  if (text[i] == '+' || text[i] == '-') negative = text[i++] == '-';
  long long value = 0;
  for (; i < text.size() && std::isdigit(static_cast<unsigned char>(text[i])); ++i) {
    value = std::min<long long>(value * 10 + (text[i] - '0'), 1LL + INT32_MAX);
  }
  if (negative) value = -value;
  return static_cast<int32_t>(std::clamp<long long>(value, INT32_MIN, INT32_MAX));
}

std::optional<IniFile> IniFile::Load(const std::string& path) { return Read(path).file; }

IniFileRead IniFile::Read(const std::string& path) {
  IniFileRead read;
  // --ini /dev/null is the usual way to say "no settings of mine": it reads as an empty file
  // and never waits, unlike every other device.
  struct stat st {};
  if (::stat(path.c_str(), &st) == 0 && S_ISCHR(st.st_mode) && st.st_rdev == makedev(1, 3)) {
    read.file = Parse("");
    return read;
  }
  const Result<OpenedFile> file = OpenRegularFile(path);
  if (!file) {
    read.absent = file.error().errorNumber == ENOENT;
    read.problem = file.error().text;
    return read;
  }
  const OpenedFile& opened = *file;
  if (opened.size > INI_FILE_LIMIT) {
    read.problem = Format("%llu bytes, larger than a settings file can be (%llu)",
                          static_cast<unsigned long long>(opened.size),
                          static_cast<unsigned long long>(INI_FILE_LIMIT));
    return read;
  }
  std::string text(static_cast<size_t>(opened.size), '\0');
  const ssize_t got = ReadFully(opened.fd.Get(), text.data(), text.size());
  if (got < 0) {
    read.problem = FileErrorText(errno);
    return read;
  }
  text.resize(static_cast<size_t>(got));  // a file cut shorter while it was read
  read.file = Parse(text);
  return read;
}

IniFile IniFile::Parse(std::string_view text) {
  IniFile file;
  if (text.substr(0, 3) == "\xEF\xBB\xBF") text.remove_prefix(3);  // a UTF-8 byte order mark
  Section* current = nullptr;
  int number = 0;
  while (!text.empty()) {
    const size_t end = text.find('\n');
    const std::string_view line = Trim(text.substr(0, end));
    text.remove_prefix(end == std::string_view::npos ? text.size() : end + 1);
    ++number;
    if (line.empty() || line.front() == ';') continue;
    if (line.front() == '[') {
      const size_t close = line.find(']');
      const std::string_view name =
          Trim(line.substr(1, close == std::string_view::npos ? std::string_view::npos : close - 1));
      file.sections_.push_back(Section{std::string(name), {}});
      current = &file.sections_.back();
      continue;
    }
    const size_t equals = line.find('=');
    if (!current || equals == std::string_view::npos) continue;  // not a key line
    current->entries.push_back(Entry{std::string(Trim(line.substr(0, equals))),
                                     std::string(Unquote(Trim(line.substr(equals + 1)))),
                                     number});
  }
  return file;
}

const IniFile::Section* IniFile::FindSection(std::string_view section) const {
  for (const Section& s : sections_) {
    if (EqualsIgnoreCase(s.name, section)) return &s;
  }
  return nullptr;
}

const IniFile::Entry* IniFile::Find(std::string_view section, std::string_view key) const {
  // Later sections of the same name are never looked at: the first one wins, as on Windows.
  const Section* s = FindSection(section);
  if (!s) return nullptr;
  for (const Entry& entry : s->entries) {
    if (EqualsIgnoreCase(entry.key, key)) return &entry;
  }
  return nullptr;
}

std::string IniFile::String(std::string_view section, std::string_view key,
                            std::string_view fallback) const {
  const Entry* entry = Find(section, key);
  return TruncateChars(entry ? std::string_view(entry->value) : fallback, PROFILE_VALUE_CHARS);
}

int32_t IniFile::Integer(std::string_view section, std::string_view key,
                         std::string_view fallback) const {
  return ProfileInteger(String(section, key, fallback));
}

bool IniFile::Has(std::string_view section, std::string_view key) const {
  return Find(section, key) != nullptr;
}

}  // namespace mirk3
