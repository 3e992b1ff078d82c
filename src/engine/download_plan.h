// A download's plan, as file analysis makes it from the packages: per slot the members to send
// and those the download list dropped, the partition table a package carries, the download
// list, the total announced to the phone, the meta-data verdict and model, and why the analysis
// failed when it did. The later steps of the download only read it; `mirk3-cli inspect` shows
// it to the operator.
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "packages/download_entry.h"
#include "wire/one_click_trailer.h"
#include "wire/package_slot.h"

namespace mirk3 {

// A slot's members to send, in package order.
using EntryList = std::vector<std::unique_ptr<DownloadEntry>>;

// The partition table found inside a package (or carried by a One Click program).
struct PackagePit {
  bool present = false;
  std::string path;
  uint64_t size = 0;
  uint64_t offset = 0;
};

// The last "download-list.txt" a package's meta-data folder held.
struct FoundDownloadList {
  std::string text;     // its bytes as read
  std::string package;  // the package it was read from
  int slot = -1;        // its One Click slot; -1 in file mode
  // Its lines, as the filter compares them with the members' names.
  std::vector<std::string> names;
};

struct AnalysedSlot {
  bool chosen = false;               // the operator enabled it, or the program carries it
  std::string package;               // the package file; the program in One Click mode
  OneClickSlot carried;              // One Click mode: where the program holds it
  EntryList members;                 // to send, in package order
  std::vector<std::string> dropped;  // members the download list dropped, in package order
};

struct AnalysisFailure {
  int64_t code = 0;  // the failure code of the report
  std::string text;  // the failure text as reported
};

struct DownloadPlan {
  // File analysis made it. The device-info session reads no packages: its plan is empty, and
  // its device-info step checks the packages' meta-data itself.
  bool analysed = false;
  bool oneClick = false;
  std::string program;  // One Click mode: the program that carries the packages
  std::array<AnalysedSlot, SLOT_COUNT> slots;
  PackagePit packagePit;
  // The run re-partitions: the operator or the program asked for it, or a package carries a
  // table.
  bool rePartition = false;
  std::optional<FoundDownloadList> downloadList;
  uint64_t packageTotal = 0;   // announced to the phone; members the list dropped included
  bool metaDataValid = false;  // MetaDataValid: every chosen package verified, one model
  std::string metaDataWhy;     // why not, naming the package, when the packages did not verify
  std::string
      packageModel;  // PackageModel: the model all verified packages name; empty when none did
  std::optional<AnalysisFailure> failure;

  bool Passed() const { return !failure; }
};

}  // namespace mirk3
