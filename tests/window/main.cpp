// The window's tests need a QApplication for their whole run, made before the first test and
// destroyed before the process exits.
#include <gtest/gtest.h>

#include "window_support/window_rig.h"

int main(int argc, char** argv) {
  testing::InitGoogleTest(&argc, argv);
  const auto application = mirk3::test::MakeWidgetApplication(argc, argv);
  return RUN_ALL_TESTS();
}
