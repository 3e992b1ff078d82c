// Whether a port's failure can pass by itself when the phone is started again on the same
// cable. A line lost mid-session, a phone that did not answer in time or a port that could not
// be opened yet may pass on the next attempt; a package problem, a model or meta-data refusal,
// a member the phone cannot take or any request the phone refused with its own answer will
// not, and is never tried again. One table decides, in the order of its rows.
#pragma once

#include <optional>
#include <vector>

#include "engine/engine_events.h"

namespace mirk3 {

enum class FailureKind { Transient, Lasting };

struct FailureRule {
  std::optional<int64_t> code;     // any code when empty
  std::optional<LineError> cause;  // any state of the line when empty
  FailureKind kind;
  const char* why;
};

// The rows, first match wins; a failure no row names is lasting.
const std::vector<FailureRule>& FailureRules();

// The kind of `failed` and the row's reason.
FailureKind KindOf(const Failed& failed, const char** why = nullptr);

}  // namespace mirk3
