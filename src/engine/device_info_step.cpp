// Device info check: before anything is written or erased, the device's information record is
// read and the phone refused when the packages' meta-data did not verify or its model differs.
// Every refusal is a failure report, so the slot shows FAIL.
#include <optional>
#include <string>
#include <vector>

#include "base/text.h"
#include "engine/download_engine.h"
#include "engine/string_table.h"
#include "wire/device_info_record.h"

namespace mirk3 {
namespace {

// No boot loader describes itself in more than this; a larger claim is a broken answer.
constexpr int32_t MAX_DEVICE_INFO_SIZE = 1 << 20;

// A record holds few items; a phone that claims more, or longer texts, is cut to this for the
// station's records (the model comparison below reads the record itself).
constexpr size_t MAX_IDENTITY_ITEMS = 32;

// What the phone says it is, for the station's records: its model and every item it gives.
DeviceIdentified Identify(const DeviceInfoView& info) {
  DeviceIdentified identified;
  for (const DeviceInfoDescriptor& item : info.Descriptors()) {
    if (identified.items.size() == MAX_IDENTITY_ITEMS) break;
    const std::optional<std::string> text = info.ItemText(item);
    if (!text) continue;
    const std::string cut = TruncateChars(*text, REPORT_TEXT_CHARS);
    if (item.type == DEVINFO_ITEM_MODEL && identified.model.empty()) identified.model = cut;
    identified.items.push_back(DeviceInfoItem{item.type, cut});
  }
  return identified;
}

}  // namespace

bool CDownloadEngine::DeviceInfoStep(const DownloadPlan& plan) {
  if (protocolVersion_ < PROTOCOL_HAS_DEVICE_INFO) return true;
  // In the device-info session no file analysis has looked at the packages: they are checked
  // here, so that the comparison below has a verified model to compare with.
  const DownloadPlan checked = plan.analysed ? DownloadPlan{} : CheckPackagesMetaData();
  std::vector<uint8_t> record;
  return ReadDeviceInfo(&record) && CheckDeviceInfo(record, plan.analysed ? plan : checked);
}

bool CDownloadEngine::ReadDeviceInfo(std::vector<uint8_t>* record) {
  const int32_t size = packets_.SendRequest(RQT_DEVINFO, RQT_DEVINFO_BEGIN);
  if (size == REQUEST_FAILED || size <= 0 || size % PIECE_SIZE != 0 ||
      size > MAX_DEVICE_INFO_SIZE) {
    reports_.Fail(FAIL_DEVICE_INFO, LoadString(IDS_FAIL_DEVICE_INFO));
    return false;
  }
  record->assign(static_cast<size_t>(size), 0);
  return packets_.ReadPieces(RQT_DEVINFO, RQT_DEVINFO_PIECE, RQT_DEVINFO_END, record);
}

bool CDownloadEngine::CheckDeviceInfo(const std::vector<uint8_t>& record,
                                      const DownloadPlan& facts) {
  const DeviceInfoView info(record);
  if (info.Magic() != DEVINFO_MAGIC) {
    reports_.Failf(FAIL_DEVICE_INFO, "Invalid Data : %08X", info.Magic());
    return false;
  }
  reports_.Tell(Identify(info));
  if (!facts.metaDataValid) {
    reports_.Failf(FAIL_DEVICE_INFO, "FAIL! SHA256 is invalid");
    if (!facts.metaDataWhy.empty()) reports_.Note(facts.metaDataWhy);
    return false;
  }
  for (const DeviceInfoDescriptor& item : info.Descriptors()) {
    if (item.type != DEVINFO_ITEM_MODEL) continue;
    const std::optional<std::string> deviceModel = info.ItemText(item);
    if (!deviceModel) break;
    // The package model is cut at its first "_": "ABC123_EUR" names device ABC123.
    const std::string packageModel = facts.packageModel.substr(0, facts.packageModel.find('_'));
    if (EqualsIgnoreCase(*deviceModel, packageModel)) return true;
    reports_.Failf(FAIL_DEVICE_INFO, "FAIL! Model dismatch fail");
    reports_.Note("The packages are for model \"" + packageModel + "\"; the phone is model \"" +
                   *deviceModel + "\"");
    return false;
  }
  reports_.Failf(FAIL_DEVICE_INFO, "FAIL! Invalid DEVINFO");
  return false;
}

}  // namespace mirk3
