#include "cli/live_display.h"

#include <sys/ioctl.h>
#include <unistd.h>

#include <algorithm>
#include <string_view>

#include "base/text.h"
#include "serial/serial_line.h"

namespace mirk3 {
namespace {

using Clock = std::chrono::steady_clock;

constexpr double BYTES_PER_MB = 1048576.0;
constexpr auto REDRAW_INTERVAL = std::chrono::milliseconds(200);
constexpr char GAP[] = "  ";  // between grid cells

// Characters as the terminal counts them: every byte that does not continue a UTF-8 sequence.
size_t Chars(std::string_view text) {
  return static_cast<size_t>(std::count_if(text.begin(), text.end(), [](char c) {
    return (static_cast<unsigned char>(c) & 0xC0) != 0x80;
  }));
}

// A text from a phone or a file may hold line ends or escapes; on one frame line they would
// move the cursor and break every later redraw.
std::string Printable(std::string_view text) {
  std::string out(text);
  for (char& c : out) {
    const auto byte = static_cast<unsigned char>(c);
    if (byte < 0x20 || byte == 0x7F) c = ' ';
  }
  return out;
}

// `text` in exactly `width` characters: padded on the right, or cut with a '~' that says so.
std::string Fit(std::string_view text, size_t width) {
  std::string out = Printable(text);
  const size_t chars = Chars(out);
  if (chars > width) {
    out = width == 0 ? std::string() : TruncateChars(out, width - 1) + "~";
  } else {
    out.append(width - chars, ' ');
  }
  return out;
}

std::string FitRight(std::string_view text, size_t width) {
  const size_t chars = Chars(text);
  if (chars >= width) return Fit(text, width);
  return std::string(width - chars, ' ') + std::string(text);
}

// The last guard of every line: never wider than the terminal, no blanks at its end.
std::string Cut(std::string_view line, int width) {
  std::string out = TruncateChars(line, static_cast<size_t>(std::max(width, 0)));
  out.erase(out.find_last_not_of(' ') + 1);
  return out;
}

bool IsSet(Clock::time_point t) { return t != Clock::time_point{}; }

// "mm:ss", or "hhHmm" beyond 99 minutes, so that the column keeps its five characters.
std::string ClockText(double seconds) {
  if (seconds < 0) seconds = 0;
  const auto whole = static_cast<long long>(seconds);
  if (whole < 100 * 60) return Format("%02lld:%02lld", whole / 60, whole % 60);
  if (whole < 100 * 3600) return Format("%2lldh%02lld", whole / 3600, whole / 60 % 60);
  return "99h+";
}

double Seconds(Clock::duration d) { return std::chrono::duration<double>(d).count(); }

std::string ElapsedText(const PortRun& p) {
  if (!IsSet(p.started) || !IsSet(p.ended)) return "--";
  return ClockText(Seconds(p.ended - p.started));
}

std::string PercentText(const PortRun& p) {
  if (p.total == 0) return "--";
  return Format("%d%%", static_cast<int>(std::min<uint64_t>(p.sent * 100 / p.total, 100)));
}

// Bytes a second since the first byte went out; 0 when not known yet.
double BytesPerSecond(const PortRun& p, Clock::time_point now) {
  const Clock::time_point until =
      p.verdict == Verdict::Passed || p.verdict == Verdict::Failed ? p.ended : now;
  if (!IsSet(p.firstByte) || !IsSet(until) || p.sent == 0) return 0;
  const double seconds = Seconds(until - p.firstByte);
  return seconds > 0 ? static_cast<double>(p.sent) / seconds : 0;
}

std::string RateText(const PortRun& p, Clock::time_point now) {
  const double rate = BytesPerSecond(p, now);
  return rate > 0 ? Format("%.1f", rate / BYTES_PER_MB) : "--";
}

std::string LeftText(const PortRun& p, Clock::time_point now) {
  if (p.verdict != Verdict::Running || p.total == 0) return "--";
  if (p.sent >= p.total) return ClockText(0);
  const double rate = BytesPerSecond(p, now);
  return rate > 0 ? ClockText(static_cast<double>(p.total - p.sent) / rate) : "--";
}

// The short state of a grid cell, four characters at most.
std::string CellState(const PortRun& p) {
  switch (p.verdict) {
    case Verdict::Passed:
      return "PASS";
    case Verdict::Failed:
      return "FAIL";
    case Verdict::Running:
      return PercentText(p);
    default:
      return "wait";
  }
}

// What the port is doing, for the wide row: the step, or how it ended and why.
std::string StepText(const PortRun& p) {
  switch (p.verdict) {
    case Verdict::Passed:
      return "PASS " + ElapsedText(p);
    case Verdict::Failed:
      return p.message.empty() ? "FAIL" : "FAIL " + p.message;
    case Verdict::Running:
      return p.step.empty() ? "starting" : p.step;
    default:
      return "waiting";
  }
}

std::string UsbText(const PortRun& p) { return p.usbPath.empty() ? "-" : p.usbPath; }

std::string PortText(const PortRun& p) { return p.port >= 0 ? PortName(p.port) : "-"; }

std::vector<const PortRun*> BySlot(const std::vector<PortRun>& ports) {
  std::vector<const PortRun*> sorted;
  for (const PortRun& p : ports) sorted.push_back(&p);
  std::stable_sort(sorted.begin(), sorted.end(), [](const PortRun* a, const PortRun* b) {
    return a->slot != b->slot ? a->slot < b->slot : a->port < b->port;
  });
  return sorted;
}

struct Counts {
  int waiting = 0, running = 0, passed = 0, failed = 0;
};

Counts CountVerdicts(const std::vector<PortRun>& ports) {
  Counts c;
  for (const PortRun& p : ports) {
    switch (p.verdict) {
      case Verdict::Passed:
        ++c.passed;
        break;
      case Verdict::Failed:
        ++c.failed;
        break;
      case Verdict::Running:
        ++c.running;
        break;
      default:
        ++c.waiting;
    }
  }
  return c;
}

int RunNumber(const std::vector<PortRun>& ports) { return ports.empty() ? 0 : ports.front().run; }

std::string PortCount(const std::vector<PortRun>& ports) {
  return ports.size() == 1 ? "1 port" : Format("%zu ports", ports.size());
}

size_t WidestOf(const std::vector<const PortRun*>& ports, std::string (*text)(const PortRun&),
                size_t least, size_t most) {
  size_t widest = least;
  for (const PortRun* p : ports) widest = std::max(widest, Chars(text(*p)));
  return std::min(widest, most);
}

std::string LiveHeader(const std::vector<PortRun>& ports, int width) {
  const Counts c = CountVerdicts(ports);
  std::string header = Format("run %d  %s  running %d  passed %d  failed %d", RunNumber(ports),
                              PortCount(ports).c_str(), c.running, c.passed, c.failed);
  if (c.waiting > 0) header += Format("  waiting %d", c.waiting);
  // Too wide: the failures first, so that a cut never hides them.
  if (Chars(header) > static_cast<size_t>(width)) {
    header = Format("failed %d passed %d running %d", c.failed, c.passed, c.running);
  }
  return header;
}

// The wide form: a row per port. Empty when the rows would leave the step column too narrow
// to say anything.
std::vector<std::string> Rows(const std::vector<const PortRun*>& ports, int width,
                              Clock::time_point now) {
  constexpr size_t MIN_STEP = 12;
  const size_t portWidth = WidestOf(ports, PortText, 4, 12);
  size_t usbWidth = WidestOf(ports, UsbText, 3, 14);
  // slot, port, USB path, then percent, MB/s and time left, a blank after each.
  const auto fixed = [&] { return 4 + 1 + portWidth + 1 + usbWidth + 1 + 1 + 4 + 1 + 6 + 1 + 5; };
  const auto total = static_cast<size_t>(width);
  if (total < fixed() + MIN_STEP) usbWidth = 3;
  if (total < fixed() + MIN_STEP) return {};
  const size_t stepWidth = total - fixed();

  const auto row = [&](const std::string& slot, const std::string& port, const std::string& usb,
                       const std::string& step, const std::string& pct, const std::string& rate,
                       const std::string& left) {
    return FitRight(slot, 4) + " " + Fit(port, portWidth) + " " + Fit(usb, usbWidth) + " " +
           Fit(step, stepWidth) + " " + FitRight(pct, 4) + " " + FitRight(rate, 6) + " " +
           FitRight(left, 5);
  };
  std::vector<std::string> lines{row("slot", "port", "USB", "step", "done", "MB/s", "left")};
  for (const PortRun* p : ports) {
    lines.push_back(row(std::to_string(p->slot), PortText(*p), UsbText(*p), StepText(*p),
                        PercentText(*p), RateText(*p, now), LeftText(*p, now)));
  }
  return lines;
}

int Rank(const PortRun& p) {
  switch (p.verdict) {
    case Verdict::Failed:
      return 0;
    case Verdict::Running:
      return 1;
    case Verdict::Waiting:
      return 2;
    default:
      return 3;
  }
}

// The compact form: cells of "slot:port state" side by side, in `rows` lines at most.
std::vector<std::string> Grid(std::vector<const PortRun*> ports, int width, int rows) {
  std::vector<std::string> cells;
  const auto cellOf = [](const PortRun& p) {
    return Format("%d:%s %4s", p.slot, PortText(p).c_str(), CellState(p).c_str());
  };
  size_t cellWidth = 0;
  for (const PortRun* p : ports) cellWidth = std::max(cellWidth, Chars(cellOf(*p)));
  cellWidth = std::min(cellWidth, static_cast<size_t>(width));
  const size_t columns = std::max<size_t>(1, (static_cast<size_t>(width) + 2) / (cellWidth + 2));
  const size_t capacity = columns * static_cast<size_t>(std::max(rows, 0));
  if (capacity == 0) return {};

  if (ports.size() > capacity) {
    // Not even the grid fits: the failures first, then what still runs, and a count of the rest.
    std::stable_sort(ports.begin(), ports.end(),
                     [](const PortRun* a, const PortRun* b) { return Rank(*a) < Rank(*b); });
    const size_t shown = capacity - 1;
    for (size_t i = 0; i < shown; ++i) cells.push_back(cellOf(*ports[i]));
    cells.push_back(Format("+%zu more", ports.size() - shown));
  } else {
    for (const PortRun* p : ports) cells.push_back(cellOf(*p));
  }

  std::vector<std::string> lines;
  for (size_t i = 0; i < cells.size(); i += columns) {
    std::string line;
    for (size_t j = i; j < std::min(i + columns, cells.size()); ++j) {
      if (j > i) line += GAP;
      line += Fit(cells[j], cellWidth);
    }
    lines.push_back(line);
  }
  return lines;
}

}  // namespace

std::vector<std::string> RenderLive(const std::vector<PortRun>& ports, int width, int height,
                                    Clock::time_point now) {
  width = std::max(width, 1);
  std::vector<std::string> frame;
  if (height < 1) return frame;
  frame.push_back(LiveHeader(ports, width));
  const std::vector<const PortRun*> sorted = BySlot(ports);
  std::vector<std::string> body;
  if (sorted.size() + 2 <= static_cast<size_t>(height)) body = Rows(sorted, width, now);
  if (body.empty()) body = Grid(sorted, width, height - 1);
  frame.insert(frame.end(), body.begin(), body.end());
  for (std::string& line : frame) line = Cut(line, width);
  return frame;
}

std::vector<std::string> RenderSummary(const std::vector<PortRun>& ports, int width) {
  width = std::max(width, 1);
  const Counts c = CountVerdicts(ports);
  std::string header = Format("run %d  %s  passed %d  failed %d", RunNumber(ports),
                              PortCount(ports).c_str(), c.passed, c.failed);
  if (c.running + c.waiting > 0) header += Format("  unfinished %d", c.running + c.waiting);

  const std::vector<const PortRun*> sorted = BySlot(ports);
  const auto model = [](const PortRun& p) { return p.model.empty() ? std::string("-") : p.model; };
  const size_t portWidth = WidestOf(sorted, PortText, 4, 12);
  size_t usbWidth = WidestOf(sorted, UsbText, 3, 17);
  size_t modelWidth = WidestOf(sorted, model, 5, 16);
  // slot, port, USB path, model, result, then the reason and the time, a blank after each; a
  // column of no width is left out, blank and all.
  const auto column = [](const std::string& text, size_t w) {
    return w == 0 ? std::string() : Fit(text, w) + " ";
  };
  const auto fixed = [&] {
    return 4 + 1 + portWidth + 1 + (usbWidth > 0 ? usbWidth + 1 : 0) +
           (modelWidth > 0 ? modelWidth + 1 : 0) + 6 + 1 + 1 + 5;
  };
  constexpr size_t MIN_REASON = 12;
  const auto total = static_cast<size_t>(width);
  // On a narrow terminal the reason matters more than where the phone sat.
  if (total < fixed() + MIN_REASON) usbWidth = modelWidth = 0;
  const size_t reasonWidth = total > fixed() ? total - fixed() : 0;

  const auto row = [&](const std::string& slot, const std::string& port, const std::string& usb,
                       const std::string& mdl, const std::string& result, const std::string& reason,
                       const std::string& time) {
    return FitRight(slot, 4) + " " + column(port, portWidth) + column(usb, usbWidth) +
           column(mdl, modelWidth) + column(result, 6) + column(reason, reasonWidth) +
           FitRight(time, 5);
  };
  std::vector<std::string> lines{header,
                                 row("slot", "port", "USB", "model", "result", "reason", "time")};
  for (const PortRun* p : sorted) {
    const std::string result = p->verdict == Verdict::Passed   ? "PASS"
                               : p->verdict == Verdict::Failed ? "FAIL"
                                                               : "--";
    lines.push_back(row(std::to_string(p->slot), PortText(*p), UsbText(*p), model(*p), result,
                        p->message, ElapsedText(*p)));
  }
  for (std::string& line : lines) line = Cut(line, width);
  return lines;
}

TerminalSize ReadTerminalSize(int fd) {
  TerminalSize size;
  winsize ws{};
  if (fd >= 0 && ioctl(fd, TIOCGWINSZ, &ws) == 0) {
    if (ws.ws_col > 0) size.columns = ws.ws_col;
    if (ws.ws_row > 0) size.rows = ws.ws_row;
  }
  return size;
}

LiveDisplay::LiveDisplay(std::ostream& out, int fd) : out_(out), fd_(fd) {}

void LiveDisplay::Update(const std::vector<PortRun>& ports, Clock::time_point now, bool force) {
  if (!force && drawnLines_ > 0 && now - lastDraw_ < REDRAW_INTERVAL) return;
  const TerminalSize size = ReadTerminalSize(fd_);
  // One row stays free: the line end after the last row must not scroll the frame's top away.
  Draw(RenderLive(ports, size.columns, std::max(size.rows - 1, 1), now));
  lastDraw_ = now;
}

void LiveDisplay::Clear() {
  if (drawnLines_ == 0) return;
  // Line by line rather than "erase below": tmux takes an erase below from the screen's top
  // left corner for a cleared screen and keeps a copy of the frame in its history.
  std::string text = "\r\033[" + std::to_string(drawnLines_) + "A";
  for (int i = 0; i < drawnLines_; ++i) text += i == 0 ? "\033[2K" : "\033[B\033[2K";
  if (drawnLines_ > 1) text += "\033[" + std::to_string(drawnLines_ - 1) + "A";
  out_ << text << std::flush;
  drawnLines_ = 0;
}

void LiveDisplay::Finish(const std::vector<PortRun>& ports) {
  Draw(RenderSummary(ports, ReadTerminalSize(fd_).columns));
  drawnLines_ = 0;  // the table stays; nothing is drawn over it
}

void LiveDisplay::Draw(const std::vector<std::string>& lines) {
  std::string text;
  if (drawnLines_ > 0) text += "\r\033[" + std::to_string(drawnLines_) + "A";
  // Each line is cleared before it is written, never after: clearing at the last column of a
  // full-width line would take its last character on some terminals.
  for (const std::string& line : lines) text += "\r\033[2K" + line + "\n";
  text += "\033[J";  // what remains of a longer previous frame
  out_ << text << std::flush;
  drawnLines_ = static_cast<int>(lines.size());
}

}  // namespace mirk3
