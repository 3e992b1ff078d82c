// Why a package's meta-data did not verify: the kind of failure, for code that acts on it, and
// a text for the operator that names what failed ("member boot.img's digest differs: ...").
// The check itself stays a yes or no; the failure only says why it was a no.
#pragma once

#include <string>

namespace mirk3 {

enum class MetaDataProblem {
  None,           // nothing failed
  Unreadable,     // the package file cannot be opened, or a read of it failed
  BrokenArchive,  // the tar walk broke: a damaged or cut header, an entry the station refuses
  NoSlot,         // a One Click slot that is not there or does not lie within its program
  NoList,         // no content list below 128 KiB in the package
  BadSignature,   // the list's signature does not verify with the key in use
  Undecryptable,  // the list's ciphertext is not whole blocks or its padding is wrong
  BadCount,       // the list's count is not a number from 1 to 100
  CountDiffers,   // the list holds fewer entry lines than its count says
  Unlisted,       // a member outside meta-data/ is not in the list
  DigestDiffers,  // a member's SHA-256 is not the one the list gives
  BadModel,       // the list's model line cannot be shared: empty, too long, or with a NUL
  ModelDiffers,   // the model line is not the one an earlier package of the download fixed
};

struct MetaDataFailure {
  MetaDataProblem problem = MetaDataProblem::None;
  std::string text;  // empty when nothing failed
};

// The failure of a package file that cannot be opened, from the `errno` of its open.
MetaDataFailure UnreadablePackage(int error);

}  // namespace mirk3
