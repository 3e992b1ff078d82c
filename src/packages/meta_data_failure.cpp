#include "packages/meta_data_failure.h"

#include <cerrno>

#include "base/file.h"

namespace mirk3 {

MetaDataFailure UnreadablePackage(int error) {
  // A package source refuses what is not a regular file with EINVAL.
  const std::string why = error == EINVAL ? "not a regular file" : FileErrorText(error);
  return {MetaDataProblem::Unreadable, "cannot read the package: " + why};
}

}  // namespace mirk3
