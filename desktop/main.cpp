// velloran: the desktop program.
#include <unistd.h>

#include <QApplication>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <mutex>
#include <string>

#include "appfolders.h"
#include "dialogprovider.h"
#include "mainform.h"
#ifdef VELLORAN_HAVE_PRINTCAPTURE
#include "printcapture.h"
#endif
#ifdef VELLORAN_HAVE_SCANNER
#include "acquisitionform.h"
#endif
#include "settings.h"
#include "uids.h"
#include "windowlanguage.h"

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

// Also the source of the manual page velloran(1): sections are the lines ending in ":".
void PrintHelp() {
  std::fputs(
      "usage: velloran [--help | --version]\n"
      "\n"
      "Opens the Velloran window, which turns a clinic's files into DICOM objects of one study.\n"
      "Enter the patient and the study, or find them with \"Search WL\" on the worklist server\n"
      "or \"Search PACS\" on the PACS; add pictures (JPG, BMP, PNG), documents (DOC, DOCX, RTF,\n"
      "TXT, HTML), PDF files and MP4 videos; then \"Send\" stores them on the\n"
      "PACS and \"Save To Folder\" writes them as DICOM files. \"Setup\" holds the AE titles,\n"
      "addresses and ports, and tests them.\n"
      "Without a display the window cannot open; velloran then shows what velloran-cli, the\n"
      "command-line tool for the same work, can do.\n"
      "\n"
      "options:\n"
      "  --help      print this text and exit\n"
      "  --version   print the version and exit\n"
      "\n"
      "exit status:\n"
      "  0  the window was closed, or there was no display\n"
      "\n",
      stdout);
  std::fputs(kAppFoldersHelp, stdout);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc == 2 && std::strcmp(argv[1], "--help") == 0) {
    PrintHelp();
    return 0;
  }
  if (argc == 2 && std::strcmp(argv[1], "--version") == 0) {
    // The version the About box shows.
    std::printf("velloran %s\n", FileVersionText("/proc/self/exe").c_str());
    return 0;
  }
  if (!HaveDisplay()) return ExplainNoDisplay();
  QApplication application(argc, argv);
  QApplication::setApplicationName("VELLORAN");
  // The window speaks the language of the setting, or else the desktop's; the settings are read
  // again, with everything else, when the window is made.
  SetupConfig settings;
  LoadSettings(ThisProgramFolders().settingsFile.string(), settings);
  UseWindowLanguage(ChooseWindowLanguage(settings.Language));
  QtDialogs dialogs;
  CaptureHooks hooks;
#ifdef VELLORAN_HAVE_PRINTCAPTURE
  PrintCapture capture;
  // The start runs on a thread of its own and may go on after the window stopped waiting for it
  // (the installation waiting for a password). A stop asked for meanwhile is done by the start
  // when it ends, so closing the window never waits for the installation; the timer's look at
  // the messages skips a turn meanwhile.
  std::mutex captureStarting;
  std::atomic<bool> captureStopped{false};
  hooks.start = [&capture, &captureStarting, &captureStopped](
                    const std::string& port, const std::filesystem::path& workFolder,
                    ItemList& items) {
    const std::lock_guard lock(captureStarting);
    std::string message;
    if (captureStopped) return message;
    CaptureSettings chosen;
    chosen.mode = CaptureModeNamed(setupcfg.printCapture);
    chosen.port = port;
    capture.Start(chosen, workFolder, items, message);
    if (captureStopped) capture.Stop();
    return message;
  };
  hooks.stop = [&capture, &captureStarting, &captureStopped] {
    captureStopped = true;
    const std::unique_lock lock(captureStarting, std::try_to_lock);
    if (lock.owns_lock()) capture.Stop();
  };
  hooks.messages = [&capture, &captureStarting] {
    const std::unique_lock lock(captureStarting, std::try_to_lock);
    return lock.owns_lock() ? capture.TakeMessages() : std::vector<std::string>{};
  };
#endif
  TForm1 form(ThisProgramFolders(), dialogs, hooks);
#ifdef VELLORAN_HAVE_SCANNER
  // Made once and kept for the run, so that it opens again with the scanner chosen last.
  TAcquisitionForm scanner(form.Items(), form.Folders().workFolder, &form);
  form.SetScanAction([&scanner] { scanner.exec(); });
#endif
  form.show();
  return QApplication::exec();
}
