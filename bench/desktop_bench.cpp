// The window's own costs: the first and the cached strip redraw of many photos, and the longest
// time the event loop stays blocked during the start (with a slow printer installation), a
// worklist search, and a batch of photos being sent.
// Usage: desktop_bench STRIP_PHOTO... -- SEND_PHOTO... (from the environment: the PACS as
// BENCH_PACS_PORT and BENCH_PACS_AET on 127.0.0.1, the worklist server as BENCH_WL_PORT and
// BENCH_WL_AET, and BENCH_LPADMIN, a stand-in for lpadmin that takes its time)
#include <QApplication>
#include <QElapsedTimer>
#include <QLineEdit>
#include <QScrollArea>
#include <QThread>
#include <QTimer>
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <string>
#include <vector>

#include "appfolders.h"
#include "dialogprovider.h"
#include "jpegtiledecoder.h"
#include "mainform.h"
#include "settings.h"
#include "stripview.h"
#ifdef VELLORAN_HAVE_PRINTCAPTURE
#include "virtualprinter.h"
#endif

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

// The processor time of all the process's threads so far, which a busy machine does not stretch.
double ProcessorMilliseconds() {
  timespec now{};
  ::clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &now);
  return static_cast<double>(now.tv_sec) * 1e3 + static_cast<double>(now.tv_nsec) / 1e6;
}

// A 5 ms timer on the event loop: the longest gap between its ticks (or between Start and the
// first tick, or the last tick and Stop) is the longest time the loop was blocked.
class Heartbeat {
 public:
  Heartbeat() {
    ticker_.setInterval(5);
    QObject::connect(&ticker_, &QTimer::timeout, [this] { Beat(); });
  }
  void Start() {
    longest_ = 0;
    longestEnd_ = 0;
    sinceStart_.start();
    sinceTick_.start();
    ticker_.start();
  }
  // When the longest block ended, in milliseconds from Start.
  double LongestAt() const { return longestEnd_; }
  double Stop() {
    Beat();
    ticker_.stop();
    return longest_;
  }

 private:
  void Beat() {
    const double gap = Milliseconds(sinceTick_);
    if (gap > longest_) {
      longest_ = gap;
      longestEnd_ = Milliseconds(sinceStart_);
    }
    sinceTick_.restart();
  }
  QTimer ticker_;
  QElapsedTimer sinceStart_;
  QElapsedTimer sinceTick_;
  double longest_ = 0;
  double longestEnd_ = 0;
};

const char* Verdict(double milliseconds) {
  return milliseconds < 100 ? "under 100 ms" : "OVER 100 ms";
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
  CaptureHooks hooks;
  const char* lpadmin = std::getenv("BENCH_LPADMIN");
#ifdef VELLORAN_HAVE_PRINTCAPTURE
  // The printer's installation as the start runs it, with a stand-in lpadmin that takes as long
  // as a person typing a password would.
  if (lpadmin != nullptr) {
    hooks.start = [lpadmin](const std::string&, const std::filesystem::path&, ItemList&) {
      int exitCode = -1;
      std::string message;
      AdminShell(lpadmin, LpadminArguments(VirtualPrinter{}), exitCode, message);
      return message;
    };
  }
#endif
  Heartbeat heartbeat;
  QElapsedTimer timer;
  timer.start();
  TForm1 form(ResolveAppFolders(folder), dialogs, hooks);
  form.show();
  const double created = Milliseconds(timer);
  // From here the window is on screen: the first turn of the loop paints it and runs the
  // deferred start, which waits for the installation beside the loop.
  heartbeat.Start();
  QCoreApplication::processEvents();
  const double startBlock = heartbeat.Stop();
  std::printf(
      "start (%s): window made and shown in %.1f ms, then painted and started in %.0f ms, "
      "longest event-loop block %.1f ms (%s)\n",
      hooks.start ? "printer installation with a slow lpadmin" : "no printer installation", created,
      Milliseconds(timer), startBlock, Verdict(startBlock));

  for (const std::string& path : strip) form.Items().Append(path);
  // The strip is on screen at once; its tiles follow as the pool draws them, the ones in view
  // (the first of the scroll box) first. It is drawn twice from an empty cache: with libjpeg
  // alone at 1/8 scale (the figure before the DC decoder), then as the window draws it.
  const size_t inView =
      std::min<size_t>(strip.size(), static_cast<size_t>((form.ScrollBox1->width() + 95) / 96));
  auto drawn = [&form](size_t count) {
    for (size_t i = 0; i < count; ++i) {
      if (form.Image1->Tile(i).isNull()) return false;
    }
    return true;
  };
  for (const bool dcDecoder : {false, true}) {
    UseJpegDcDecoder(dcDecoder);
    form.Thumbnails().Clear();
    form.Items().Clear();
    form.RefreshItemStrip();
    for (const std::string& path : strip) form.Items().Append(path);
    const double processorBefore = ProcessorMilliseconds();
    timer.restart();
    form.RefreshItemStrip();
    const double shown = Milliseconds(timer);
    while (!drawn(inView)) QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    const double firstInView = Milliseconds(timer);
    while (!form.StripComplete()) QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    const double first = Milliseconds(timer);
    const double processor = ProcessorMilliseconds() - processorBefore;
    timer.restart();
    form.RefreshItemStrip();
    const double cached = Milliseconds(timer);
    std::printf(
        "strip of %zu photos, %s: shown in %.1f ms, the %zu tiles in view drawn in %.1f ms, all "
        "tiles (first draw) in %.1f ms (goal under 1000; processor time %.0f ms), redraw from "
        "cache %.1f ms (goal under 50)\n",
        strip.size(), dcDecoder ? "DC decoder (now)" : "libjpeg at 1/8 (before)", shown, inView,
        firstInView, first, processor, cached);
  }

  // A tile chosen with the keyboard (or a click): its photo is decoded for the preview beside
  // the window.
  if (!strip.empty()) {
    double slowest = 0;
    heartbeat.Start();
    for (size_t i = 0; i < std::min<size_t>(strip.size(), 5); ++i) {
      timer.restart();
      form.StripCurrentChanged(i);
      while (form.PreviewPending()) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
        QThread::usleep(500);
      }
      slowest = std::max(slowest, Milliseconds(timer));
    }
    const double previewBlock = heartbeat.Stop();
    std::printf(
        "preview of 5 photos chosen in the strip: slowest shown in %.1f ms, longest event-loop "
        "block %.1f ms (%s)\n",
        slowest, previewBlock, Verdict(previewBlock));
  }

  const char* worklistPort = std::getenv("BENCH_WL_PORT");
  if (worklistPort != nullptr) {
    const char* aet = std::getenv("BENCH_WL_AET");
    setupcfg.worklistPort = worklistPort;
    setupcfg.worklistAET = aet != nullptr ? aet : "WORKLIST";
    timer.restart();
    heartbeat.Start();
    form.SearchWLBtnClick();
    const double searchBlock = heartbeat.Stop();
    std::printf("worklist search: %zu entries in %.0f ms, longest event-loop block %.1f ms (%s)\n",
                form.SearchResults().size(), Milliseconds(timer), searchBlock,
                Verdict(searchBlock));
  }

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
    timer.restart();
    heartbeat.Start();
    form.SendBtnClick();
    while (form.BatchRunning()) {
      QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
      QThread::usleep(500);
    }
    const double longest = heartbeat.Stop();
    std::printf(
        "send of %zu photos: %.0f ms in all, longest event-loop block %.1f ms (%s) ending at "
        "%.0f ms, outcome: %s\n",
        send.size(), Milliseconds(timer), longest, Verdict(longest), heartbeat.LongestAt(),
        qPrintable(dialogs.lastMessage));
  }
  std::error_code ignored;
  std::filesystem::remove_all(folder, ignored);
  return 0;
}
