#include <cstdio>
#include <cstdlib>

#include "support/fuzz_target.h"

namespace mirk3::fuzz {

void Require(bool holds, const char* rule) {
  if (holds) return;
  std::fprintf(stderr, "fuzz: broken: %s\n", rule);
  std::abort();
}

}  // namespace mirk3::fuzz
