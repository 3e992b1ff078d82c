#include "pack/member_use.h"

#include "base/text.h"
#include "packages/meta_data_verifier.h"

namespace mirk3::pack {

MemberUse UseOfMember(std::string_view name) {
  if (CMetaDataVerifier::IsMetaDataEntry(name)) return MemberUse::MetaData;
  const bool pit = name.size() >= 3 && EqualsIgnoreCase(name.substr(name.size() - 3), "PIT");
  return pit ? MemberUse::Pit : MemberUse::Firmware;
}

std::string StationNameProblem(std::string_view name) {
  if (UseOfMember(name) != MemberUse::Firmware || name.size() <= MAX_SENT_NAME_LENGTH) return "";
  return Format("the member name %.*s is longer than %zu bytes, which the station refuses",
                static_cast<int>(name.size()), name.data(), MAX_SENT_NAME_LENGTH);
}

}  // namespace mirk3::pack
