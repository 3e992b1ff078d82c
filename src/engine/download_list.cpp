// The home-binary filter: a package's "meta-data/download-list.txt" names the members to
// write; every other member of every chosen slot is dropped before anything is sent.
#include <algorithm>
#include <set>

#include "base/text.h"
#include "engine/download_engine.h"

namespace mirk3 {
namespace {

// Lines separated by any run of CR and LF bytes; no empty lines, nothing trimmed.
std::set<std::string, std::less<>> SplitLines(const std::string& text) {
  std::set<std::string, std::less<>> lines;
  size_t start = 0;
  while (start < text.size()) {
    const size_t end = text.find_first_of("\r\n", start);
    const size_t stop = end == std::string::npos ? text.size() : end;
    if (stop > start) lines.emplace(text.substr(start, stop - start));
    start = stop + 1;
  }
  return lines;
}

}  // namespace

void CDownloadEngine::ApplyDownloadList() {
  if (!downloadListText_) return;
  // The list ends at its first NUL, as the text it is stored as.
  const std::string text(FieldText(downloadListText_->data(), downloadListText_->size()));
  const auto lines = SplitLines(text);
  Report(WM_DL_LOG, 0, "skip file list for home binary");
  for (int slot = 0; slot < SLOT_COUNT; ++slot) {
    if (!options_.slotEnabled[slot]) continue;
    EntryList& list = fileLists_[slot];
    for (auto it = list.begin(); it != list.end();) {
      const std::string_view name = FieldText((*it)->fileName, sizeof(*it)->fileName);
      if (name.empty() || lines.count(name) != 0) {
        ++it;
        continue;
      }
      ReportText(WM_DL_LOG, 0, std::string(name));
      it = list.erase(it);
    }
  }
  Report(WM_DL_LOG, 0, "Home Binary Download");
}

}  // namespace mirk3
