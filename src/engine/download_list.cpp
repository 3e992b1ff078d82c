#include "engine/download_list.h"

#include <set>
#include <string_view>

#include "base/text.h"

namespace mirk3 {

std::vector<std::string> DownloadListNames(const std::string& text) {
  const std::string_view list = FieldText(text.data(), text.size());
  std::vector<std::string> names;
  size_t start = 0;
  while (start < list.size()) {
    const size_t end = list.find_first_of("\r\n", start);
    const size_t stop = end == std::string_view::npos ? list.size() : end;
    if (stop > start) names.emplace_back(list.substr(start, stop - start));
    start = stop + 1;
  }
  return names;
}

std::vector<std::string> KeepListedMembers(EntryList& list, const std::vector<std::string>& names) {
  const std::set<std::string, std::less<>> listed(names.begin(), names.end());
  std::vector<std::string> dropped;
  for (auto it = list.begin(); it != list.end();) {
    const std::string_view name = FieldText((*it)->fileName, sizeof(*it)->fileName);
    if (name.empty() || listed.count(name) != 0) {
      ++it;
      continue;
    }
    dropped.emplace_back(name);
    it = list.erase(it);
  }
  return dropped;
}

}  // namespace mirk3
