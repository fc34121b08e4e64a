// Send and Save To Folder of one batch: the items are converted and sent (directly or through the
// outbox) or written into a folder on a thread beside the window, the progress bar follows them,
// and Cancel, shown beside it while the batch runs, stops the batch after its object in flight.
#pragma once

#include <QCoreApplication>
#include <QObject>
#include <filesystem>
#include <functional>
#include <stop_token>
#include <string>
#include <thread>
#include <vector>

#include "settings.h"
#include "usermessage.h"

class Outbox;
class OutboxSender;
class QHBoxLayout;
class QProgressBar;
class QPushButton;
class QWidget;

class BatchRunner {
  Q_DECLARE_TR_FUNCTIONS(BatchRunner)

 public:
  enum class Mode { Send, Save };
  // The progress bar's width between the buttons around it; while a batch runs, Cancel takes part
  // of it, so the row keeps its width and nothing else moves.
  static constexpr int kProgressWidth = 123;

  // How a batch ended: the indexes of the items that leave the list (their objects stored,
  // written or safely in the outbox) and what the user is told (empty: nothing).
  struct Result {
    std::vector<size_t> doneItems;
    UserMessage message;
  };
  using Finished = std::function<void(const Result& result)>;

  // Makes Cancel in `panel`, placed in `row` at `position` and hidden until a batch runs; the
  // batch shows its progress in `progress`. The files the program made itself in `workFolder`
  // are deleted once their objects are on the PACS.
  BatchRunner(QWidget* panel, QHBoxLayout* row, int position, QProgressBar* progress,
              std::filesystem::path workFolder);
  // Waits for a running batch; its end is then not reported.
  ~BatchRunner();
  BatchRunner(const BatchRunner&) = delete;
  BatchRunner& operator=(const BatchRunner&) = delete;

  // Starts a batch of `items`, prepared before: Send goes through `outbox` (and its `sender`)
  // when there is one and the settings keep unsent objects, else directly to the PACS; Save
  // writes into `folder`. `finished` runs on the GUI thread when the batch has ended.
  void Start(Mode mode, std::vector<std::string> items, const std::string& folder,
             const SetupConfig& settings, Outbox* outbox, OutboxSender* sender, Finished finished);
  // Asks the running batch to stop after its object in flight.
  void Cancel();
  // True from Start until `finished` is called.
  bool Running() const { return thread_.joinable(); }

  QPushButton* CancelBtn;

 private:
  struct Outcome;
  void Finish(const Outcome& outcome, OutboxSender* sender, const Finished& finished);

  QProgressBar* progress_;
  QHBoxLayout* row_;
  std::filesystem::path workFolder_;
  std::stop_source stop_;
  std::thread thread_;
  // Progress and the end reach the GUI thread through this object's event queue; destroying it
  // drops those not yet run.
  QObject receiver_;
};
