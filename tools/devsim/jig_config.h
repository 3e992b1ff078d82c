// What the emulated test jig is told to be: which ttyUSB<n> it serves (none by default) and
// what it does wrong.
#pragma once

#include <string>

namespace mirk3::devsim {

struct JigConfig {
  int port = -1;        // serves <port dir>/ttyUSB<port>; -1: no jig
  std::string ttyPath;  // serves this existing terminal instead (a gadget's ttyGS<n>)
  bool silent = false;  // reads and records every frame, answers none
  int answerBytes = 8;  // bytes in every answer: fewer is a short answer, more a long one
  int splitMs = -1;     // >= 0: every answer in two pieces, 5 bytes, the rest this much later
  int delayMs = 0;      // before every answer
};

}  // namespace mirk3::devsim
