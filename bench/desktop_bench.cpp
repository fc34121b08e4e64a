// The window's own costs: the first and the cached strip redraw of many photos, and the longest
// time the event loop stays blocked while a batch of photos is sent.
// Usage: desktop_bench STRIP_PHOTO... -- SEND_PHOTO... (the PACS from the environment:
// BENCH_PACS_PORT and BENCH_PACS_AET on 127.0.0.1)
#include <QApplication>
#include <QElapsedTimer>
#include <QLineEdit>
#include <QScrollArea>
#include <QThread>
#include <QTimer>
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "appfolders.h"
#include "dialogprovider.h"
#include "mainform.h"
#include "settings.h"
#include "stripview.h"

namespace {

// Dialogs answered without a person: messages are printed, folders are never asked for here.
class BenchDialogs final : public DialogProvider {
 public:
  void ShowMessage(QWidget*, const QString& text) override {
    lastMessage = text;
    std::printf("  (message: %s)\n", qPrintable(text));
  }
  bool Confirm(QWidget*, const QString&, const QString&) override { return true; }
  QString OpenFile(QWidget*, const QString&) override { return {}; }
  QString BrowseForFolder(QWidget*, const QString&) override { return {}; }
  void OpenDocument(const QString&) override {}
  QString lastMessage;
};

double Milliseconds(const QElapsedTimer& timer) {
  return timer.nsecsElapsed() / 1e6;
}

}  // namespace

int main(int argc, char** argv) {
  ::setenv("QT_QPA_PLATFORM", "offscreen", 0);
  QApplication application(argc, argv);
  std::vector<std::string> strip, send;
  bool second = false;
  for (int i = 1; i < argc; ++i) {
    const std::string argument = argv[i];
    if (argument == "--") {
      second = true;
    } else {
      (second ? send : strip).push_back(argument);
    }
  }
  const std::filesystem::path folder =
      std::filesystem::temp_directory_path() / ("desktop_bench_" + std::to_string(::getpid()));
  std::filesystem::create_directories(folder);
  BenchDialogs dialogs;
  TForm1 form(ResolveAppFolders(folder), dialogs);
  form.DeferredStart();

  for (const std::string& path : strip) form.Items().Append(path);
  // The strip is on screen at once; its tiles follow as the pool draws them, the ones in view
  // (the first of the scroll box) first.
  const size_t inView =
      std::min<size_t>(strip.size(), static_cast<size_t>((form.ScrollBox1->width() + 95) / 96));
  auto drawn = [&form](size_t count) {
    for (size_t i = 0; i < count; ++i) {
      if (form.Image1->Tile(i).isNull()) return false;
    }
    return true;
  };
  QElapsedTimer timer;
  timer.start();
  form.RefreshItemStrip();
  const double shown = Milliseconds(timer);
  while (!drawn(inView)) QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
  const double firstInView = Milliseconds(timer);
  while (!form.StripComplete()) QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
  const double first = Milliseconds(timer);
  timer.restart();
  form.RefreshItemStrip();
  const double cached = Milliseconds(timer);
  std::printf(
      "strip of %zu photos: shown in %.1f ms, the %zu tiles in view drawn in %.1f ms, all tiles "
      "(first draw) in %.1f ms (goal under 1000), redraw from cache %.1f ms (goal under 50)\n",
      strip.size(), shown, inView, firstInView, first, cached);

  if (!send.empty()) {
    form.ClearBtnClick();
    const char* port = std::getenv("BENCH_PACS_PORT");
    const char* aet = std::getenv("BENCH_PACS_AET");
    setupcfg.remotePort = port != nullptr ? port : "11112";
    setupcfg.remoteAET = aet != nullptr ? aet : "PACSAET";
    form.Edit2->setText("BENCH^BATCH");
    form.Edit1->setText("BENCH-1");
    for (const std::string& path : send) form.Items().Append(path);
    form.RefreshItemStrip();
    while (!form.StripComplete()) QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    // A 5 ms timer: the longest gap between its ticks is the longest block of the event loop.
    QElapsedTimer sinceTick;
    double longest = 0;
    QTimer ticker;
    ticker.setInterval(5);
    QObject::connect(&ticker, &QTimer::timeout, [&] {
      longest = std::max(longest, Milliseconds(sinceTick));
      sinceTick.restart();
    });
    timer.restart();
    form.SendBtnClick();
    sinceTick.start();
    ticker.start();
    while (form.BatchRunning()) {
      QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
      QThread::usleep(500);
    }
    ticker.stop();
    std::printf(
        "send of %zu photos: %.0f ms in all, longest event-loop block %.1f ms (goal at "
        "most 100), outcome: %s\n",
        send.size(), Milliseconds(timer), longest, qPrintable(dialogs.lastMessage));
  }
  std::error_code ignored;
  std::filesystem::remove_all(folder, ignored);
  return 0;
}
