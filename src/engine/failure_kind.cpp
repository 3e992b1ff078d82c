#include "engine/failure_kind.h"

namespace mirk3 {

const std::vector<FailureRule>& FailureRules() {
  using K = FailureKind;
  using L = LineError;
  static const std::vector<FailureRule> rules = {
      // What is wrong with the packages or the station stays wrong, whatever the line did.
      {FAIL_FILE_OPEN, {}, K::Lasting, "a package cannot be read"},
      {FAIL_MD5_INVALID, {}, K::Lasting, "a package's MD5 does not match"},
      {FAIL_NO_PIT, {}, K::Lasting, "a member the phone cannot take"},
      {FAIL_OUT_OF_MEMORY, {}, K::Lasting, "the station is short of memory"},
      // The line went away or went quiet: a cable, a hub or a phone that restarted.
      {{}, L::Removed, K::Transient, "the line was lost mid-session"},
      {{}, L::TimedOut, K::Transient, "the phone did not answer in time"},
      // A port not there yet or held for a moment; a port this user may not open stays so.
      {FAIL_PORT_OPEN, L::PermissionDenied, K::Lasting, "the port may not be opened"},
      {FAIL_PORT_OPEN, {}, K::Transient, "the port could not be opened"},
  };
  return rules;
}

FailureKind KindOf(const Failed& failed, const char** why) {
  for (const FailureRule& rule : FailureRules()) {
    if (rule.code && *rule.code != failed.code) continue;
    if (rule.cause && *rule.cause != failed.cause) continue;
    if (why) *why = rule.why;
    return rule.kind;
  }
  // A refusal with the phone's own answer, a model or meta-data refusal: it will come again.
  if (why) *why = "the phone or the packages refused it";
  return FailureKind::Lasting;
}

}  // namespace mirk3
