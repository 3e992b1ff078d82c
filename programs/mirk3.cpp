// mirk3: the flashing station's window (see window/window_program.h).
#include "window/window_program.h"

int main(int argc, char** argv) {
  mirk3::QtOperatorDialogs dialogs;
  return mirk3::RunWindowProgram(argc, argv, dialogs);
}
