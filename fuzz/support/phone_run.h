// The run a fuzzed phone is flashed with: the first input byte chooses the options (one bit
// each), the packages and the partition table file are made once per process in the scratch
// folder, signed for the model the emulated phones report, and every wait is cut to nothing.
// The seed maker records a real phone's answers to the same runs.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "engine/download_options.h"
#include "engine/engine_context.h"
#include "serial/byte_line.h"

namespace mirk3::fuzz {

// The bits of the first input byte.
enum PhoneChoice : uint8_t {
  SHORT_SEQUENCE = 1 << 0,  // the deviceInfo option: connect, initialize, device info, close
  FLASH_LOCK = 1 << 1,
  NAND_ERASE = 1 << 2,
  T_FLASH = 1 << 3,
  RTN = 1 << 4,
  AUTO_REBOOT = 1 << 5,
  REPARTITION = 1 << 6,    // with the table file
  MODEM_PACKAGE = 1 << 7,  // a CP package beside the AP one
};

// The model the packages are signed for.
const char* PhoneRunModel();

DownloadOptions PhoneRunOptions(uint8_t choices);

// Timing of nothing, file mode, one meta-data verdict per package for the whole process, and
// `line` (none: the serial port) to speak over.
EngineContext PhoneRunContext(std::shared_ptr<ByteLine> line);

}  // namespace mirk3::fuzz
