// An emulated test jig on a pseudo-terminal published as <port dir>/ttyUSB<n>, for rehearsing
// a station's jig traffic without a jig. It reads 8-byte frames (seven characters and their
// checksum), records each one ("... bad checksum" when the checksum is wrong), answers the
// connection check ":S1VER?" with ":VEMU01" and its checksum, answers every status frame
// (":S<n>ADST", "ADOK", "ADNG") with ":A<n>ADST" (...) and its checksum, and answers nothing
// else: set-up frames are switched, not answered. Hosts may come and go (each set-up phase
// opens and closes the line); the jig serves each in turn until Stop.
#pragma once

#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "base/file.h"
#include "devsim/jig_config.h"
#include "devsim/pty_line.h"

namespace mirk3::devsim {

class EmulatedJig {
 public:
  // `traceDir` (optional) receives <traceDir>/ttyUSB<n>.trace, one line per frame received.
  EmulatedJig(JigConfig config, std::string portDir, std::string traceDir = "");
  ~EmulatedJig();
  EmulatedJig(const EmulatedJig&) = delete;
  EmulatedJig& operator=(const EmulatedJig&) = delete;

  bool Start(std::string* error);
  // Stops serving and removes the link; harmless twice.
  void Stop();

  // The frames received so far, one line each: ":S1VER? EA", ":S3ADOK 35".
  std::vector<std::string> Received() const;
  std::string LinkPath() const;
  const std::string& SlavePath() const { return line_.SlavePath(); }

  // The answer to one frame (its 8 bytes), before any fault; empty when it gets none.
  static std::vector<uint8_t> AnswerTo(const uint8_t* frame);

 private:
  void Serve();
  // Reads up to one frame: from the next ':' on, 8 bytes. Io::Ok with a whole frame.
  Io ReadFrame(uint8_t* frame);
  void Record(const uint8_t* frame);
  bool Answer(std::vector<uint8_t> answer);

  JigConfig config_;
  std::string portDir_;
  std::string traceFile_;
  UniqueFd stopFd_;
  PtyLine line_;
  std::thread thread_;
  mutable std::mutex mutex_;
  std::vector<std::string> received_;
  UniqueFd trace_;
};

// "ttyUSB<n>": a USB serial adapter's name, as a jig's is.
std::string JigPortName(int port);
// The name the jig goes by in its trace: ttyUSB<n>, or the served terminal's own name.
std::string JigName(const JigConfig& config);

}  // namespace mirk3::devsim
