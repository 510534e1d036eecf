#include "shell/gui/DesktopApp.h"

#include <cstdio>

namespace hopwell {

int RunDesktop(int, char**) {
  std::fprintf(stderr, "hopwell: the desktop front end is not ready; use hopwell --headless COMMAND...\n");
  return 2;
}

}  // namespace hopwell
