#include "jig/jig_settings.h"

#include <cctype>
#include <climits>

namespace mirk3 {
namespace {

std::string Trimmed(const std::string& text) {
  const auto first = text.find_first_not_of(" \t");
  if (first == std::string::npos) return "";
  return text.substr(first, text.find_last_not_of(" \t") - first + 1);
}

// The number at the start of the text, as the settings' numbers have always been read:
// blanks, a sign, digits, and whatever follows ignored; 0 when there is none.
int LeadingInteger(const std::string& text) {
  const std::string t = Trimmed(text);
  size_t i = 0;
  const bool negative = i < t.size() && t[i] == '-';
  if (i < t.size() && (t[i] == '-' || t[i] == '+')) ++i;
  long long value = 0;
  for (; i < t.size() && std::isdigit(static_cast<unsigned char>(t[i])); ++i) {
    value = value * 10 + (t[i] - '0');
    if (value > INT_MAX) return 0;
  }
  return static_cast<int>(negative ? -value : value);
}

bool AllDigits(const std::string& text) {
  if (text.empty() || text.size() > 9) return false;
  for (const char c : text) {
    if (!std::isdigit(static_cast<unsigned char>(c))) return false;
  }
  return true;
}

JigPosition PositionFrom(const std::string& value) {
  const std::string text = Trimmed(value);
  JigPosition position;
  if (AllDigits(text)) {
    position.port = LeadingInteger(text);
  } else {
    position.usbPath = text;
  }
  return position;
}

}  // namespace

JigSettings ResolveJigSettings(
    const std::function<std::string(const std::string& key)>& d300JigValue,
    const std::string& portDir) {
  JigSettings settings;
  settings.device = Trimmed(d300JigValue("Device"));
  if (settings.device.empty()) {
    const int adapter = LeadingInteger(d300JigValue("D300COM"));
    if (adapter > 0) settings.device = portDir + "/ttyUSB" + std::to_string(adapter);
  }
  settings.microCable = LeadingInteger(d300JigValue("MicroCable"));
  for (int i = 0; i < JIG_POSITIONS; ++i) {
    settings.positions[i] = PositionFrom(d300JigValue("Position" + std::to_string(i + 1)));
  }
  return settings;
}

int JigPositionOf(const JigSettings& settings, int port, const std::string& usbPath) {
  for (int i = 0; i < JIG_POSITIONS; ++i) {
    const JigPosition& at = settings.positions[i];
    if (at.port >= 0 && at.port == port) return i;
    if (!at.usbPath.empty() && at.usbPath == usbPath) return i;
  }
  return -1;
}

}  // namespace mirk3
