// velloran: the desktop program.
#include <unistd.h>

#include <QApplication>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "appfolders.h"
#include "dialogprovider.h"
#include "mainform.h"

namespace {

bool HaveDisplay() {
  for (const char* variable : {"QT_QPA_PLATFORM", "DISPLAY", "WAYLAND_DISPLAY"}) {
    const char* value = std::getenv(variable);
    if (value != nullptr && value[0] != '\0') return true;
  }
  return false;
}

// Without a display the window cannot open; the command-line tool does the same work.
int ExplainNoDisplay() {
  std::fputs(
      "velloran: no display found (neither DISPLAY nor WAYLAND_DISPLAY is set), so the window "
      "cannot open.\nThe command-line tool velloran-cli does the same work without one:\n\n",
      stderr);
  std::fflush(stderr);
  const std::string cli = (ThisProgramFolders().applicationFolder / "velloran-cli").string();
  if (::access(cli.c_str(), X_OK) == 0) {
    ::execl(cli.c_str(), cli.c_str(), "--help", static_cast<char*>(nullptr));
  }
  ::execlp("velloran-cli", "velloran-cli", "--help", static_cast<char*>(nullptr));
  std::fputs("velloran-cli was not found beside this program or on the PATH.\n", stderr);
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (!HaveDisplay()) return ExplainNoDisplay();
  QApplication application(argc, argv);
  QApplication::setApplicationName("VELLORAN");
  QtDialogs dialogs;
  TForm1 form(ThisProgramFolders(), dialogs);
  form.show();
  return QApplication::exec();
}
