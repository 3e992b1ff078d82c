// What every fuzz target shares: the entry point libFuzzer (or the replay program) calls, and
// the one way a target says that something that must hold did not: it names the broken rule
// on standard error and aborts, so that the fuzzer keeps the input and a replay fails.
#pragma once

#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size);

namespace mirk3::fuzz {

// Aborts with `rule` when `holds` is false.
void Require(bool holds, const char* rule);

}  // namespace mirk3::fuzz
