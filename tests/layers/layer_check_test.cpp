// The layer check that runs before each library compiles: a copy of the sources under the build's
// own layer table passes as it is, and one include that points up or sideways fails it with the
// file, the line and the include.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <string>

#include "support/program_run.h"
#include "support/temp_dir.h"

namespace mirk3 {
namespace {

namespace fs = std::filesystem;

struct Include {
  const char* file;    // relative to the source root
  const char* line;    // appended to the file
  bool crossesLayers;  // the check must refuse it
};

// Copies src/ and tools/ into `root` and appends `added.line` to `added.file`. Gives back where
// the check must point: "<file>:<line number>: <line>".
std::string CopyWith(const fs::path& root, const Include& added) {
  for (const char* top : {"src", "tools"}) {
    fs::copy(fs::path(MIRK3_SOURCE_DIR) / top, root / top, fs::copy_options::recursive);
  }
  const std::string before = test::ReadFile((root / added.file).string());
  std::ofstream(root / added.file, std::ios::app) << added.line << '\n';
  const auto lineNumber = std::count(before.begin(), before.end(), '\n') + 1;
  return std::string(added.file) + ":" + std::to_string(lineNumber) + ": " + added.line;
}

test::ProgramRun CheckLayers(const fs::path& root) {
  return test::RunProgram("'" MIRK3_SOURCE_DIR "/scripts/check-layers' '" + root.string() +
                          "' '" MIRK3_LAYER_TABLE "'");
}

TEST(LayerCheck, RefusesEveryIncludeOfALayerTheFolderDoesNotLink) {
  const Include cases[] = {
      {"src/ports/port_slot_manager.h", "#include \"serial/serial_line.h\"", false},
      {"src/ports/port_slot_manager.h", "#include \"engine/worker.h\"", true},
      {"src/ports/port_slot_manager.cpp", "#include \"packages/md5.h\"", true},
      {"tools/devsim/phone.h", "#include \"serial/serial_line.h\"", false},
      {"src/engine/worker.h", "#include \"station/station.h\"", true},
      {"src/packages/md5.h", "#include \"devsim/phone.h\"", true},
      {"src/serial/serial_line.cpp", "#include \"engine/protocol.h\"", true},
      {"src/engine/protocol.h", "#include \"../ports/port_slot_manager.h\"", true},
      {"tools/pack/tar_writer.h", "#  include <engine/protocol.h>", true},
      {"src/station/station.h", "#include <QtDBus/QDBusConnection>", false},
      {"src/engine/worker.h", "#include <QObject>", true},
      {"src/ports/port_slot_manager.cpp", "#include <QtCore/QString>", true},
  };
  for (const Include& c : cases) {
    SCOPED_TRACE(std::string(c.file) + ": " + c.line);
    test::TempDir dir;
    const std::string where = CopyWith(dir.Path(), c);
    const test::ProgramRun run = CheckLayers(dir.Path());
    if (c.crossesLayers) {
      EXPECT_EQ(run.status, 1) << run.out;
      EXPECT_NE(run.out.find(where), std::string::npos) << run.out;
    } else {
      EXPECT_EQ(run.status, 0) << run.out;
      EXPECT_EQ(run.out, "");
    }
  }
}

}  // namespace
}  // namespace mirk3
