#include "engine/meta_data_check.h"

#include "base/text.h"
#include "packages/md5_trailer.h"
#include "packages/meta_data_key.h"
#include "packages/meta_data_results.h"
#include "packages/package_meta_data.h"

namespace mirk3 {
namespace {

const std::string& KeyOf(const EngineContext& context) {
  return context.metaDataKey.empty() ? BuiltInMetaDataKey() : context.metaDataKey;
}

}  // namespace

void MetaDataVerdict::Check(int slot, HeaderBlocks* keep) {
  checked_ = true;
  if (!valid_) return;
  valid_ =
      packages_.OneClick() ? VerifyOneClickMetaData(slot, keep) : VerifyPackageMetaData(slot, keep);
}

void MetaDataVerdict::CheckAll() {
  for (int slot = 0; slot < SLOT_COUNT; ++slot) {
    if (packages_.Chosen(slot)) Check(slot, nullptr);
  }
}

std::string MetaDataVerdict::Model() const { return std::string(FieldText(model_, sizeof model_)); }

// A package's own verdict is shared by the engines of a run (one of them hashes the package,
// the others wait for its verdict); whether the models agree is each download's own business.
// Only the engine that hashes the package keeps its header blocks.
bool MetaDataVerdict::VerifyPackageMetaData(int slot, HeaderBlocks* keep) {
  const PackageVerdict verdict = CheckPackageFile(packages_.Package(slot), KeyOf(context_),
                                                  context_.metaDataResults.get(), keep);
  MetaDataFailure failure;
  if (AgreeOnModel(verdict, model_, &failure)) return true;
  if (!failure.text.empty())
    why_ = std::string(PathFileName(packages_.Package(slot))) + ": " + failure.text;
  return false;
}

// The slot's own range of the program, never the packages after it.
bool MetaDataVerdict::VerifyOneClickMetaData(int slot, HeaderBlocks* keep) {
  return VerifyOneClickSlotMetaData(packages_.program, *packages_.trailer, slot, KeyOf(context_),
                                    model_, keep);
}

}  // namespace mirk3
