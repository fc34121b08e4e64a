// Send and Save To Folder of one batch, beside the window.
#include "batchrunner.h"

#include <sys/resource.h>
#include <unistd.h>

#include <QHBoxLayout>
#include <QProgressBar>
#include <QPushButton>
#include <memory>
#include <utility>

#include "batchreport.h"
#include "outbox.h"
#include "outboxsender.h"
#include "savestream.h"
#include "sendoutbox.h"
#include "sendweb.h"
#include "windowlanguage.h"

namespace {

constexpr int kCancelWidth = 60;

}  // namespace

struct BatchRunner::Outcome {
  Mode mode = Mode::Send;
  bool success = false;
  std::vector<std::string> items;
  std::vector<std::string> written;
  UserMessage message;
  // Through the outbox: the items whose objects are in it (they leave the list), those whose
  // objects the PACS stored, and what the delivery did.
  bool throughOutbox = false;
  std::vector<size_t> queuedItems;
  DeliveryReport delivery;
  BatchReport report;
};

BatchRunner::BatchRunner(QWidget* panel, QHBoxLayout* row, int position, QProgressBar* progress,
                         std::filesystem::path workFolder)
    : progress_(progress), row_(row), workFolder_(std::move(workFolder)) {
  CancelBtn = new QPushButton(tr("Cancel"), panel);
  CancelBtn->setObjectName("CancelBtn");
  CancelBtn->setFixedSize(kCancelWidth, 30);
  CancelBtn->hide();
  row_->insertWidget(position, CancelBtn);
}

BatchRunner::~BatchRunner() {
  if (thread_.joinable()) thread_.join();
}

void BatchRunner::Start(Mode mode, std::vector<std::string> items, const std::string& folder,
                        const SetupConfig& settings, Outbox* outbox, OutboxSender* sender,
                        Finished finished) {
  progress_->setRange(0, 0);
  //: The progress bar while a batch's first items are converted.
  progress_->setFormat(tr("Converting"));
  progress_->show();
  CancelBtn->setEnabled(true);
  CancelBtn->show();
  progress_->setMinimumWidth(kProgressWidth - kCancelWidth - row_->spacing());
  stop_ = std::stop_source();
  const std::stop_token stop = stop_.get_token();
  auto outcome = std::make_shared<Outcome>();
  outcome->mode = mode;
  outcome->items = std::move(items);
  PacsTarget target;
  std::string targetProblem;
  const bool targetUsable = PacsTargetFromSettings(settings, target, targetProblem);
  outcome->throughOutbox = mode == Mode::Send && settings.keepUnsentInOutbox && outbox;
  // Conversion and sending run beside the window; progress and the end come back as queued calls.
  thread_ = std::thread([this, outcome, settings, folder, stop, target, targetUsable, targetProblem,
                         outbox, sender, finished = std::move(finished)] {
    // A little below the window, so a batch that keeps every core busy never starves it.
    ::setpriority(PRIO_PROCESS, static_cast<id_t>(::gettid()), 5);
    // The progress bar's text is worded on the GUI thread, where the window's language lives.
    enum class Step { Queued, Delivered };
    auto showProgress = [this](size_t done, size_t total, Step step) {
      QMetaObject::invokeMethod(
          &receiver_,
          [this, done, total, step] {
            progress_->setRange(0, static_cast<int>(total));
            progress_->setValue(static_cast<int>(done));
            const QString count = WindowNumber(static_cast<long long>(done));
            const QString all = WindowNumber(static_cast<long long>(total));
            //: The progress bar: objects put into the outbox so far.
            const QString queued = tr("Queued %1 of %2").arg(count, all);
            //: The progress bar: objects sent or written so far.
            const QString delivered = tr("%1 of %2").arg(count, all);
            progress_->setFormat(step == Step::Queued ? queued : delivered);
          },
          Qt::QueuedConnection);
    };
    if (outcome->throughOutbox) {
      OutboxSendProgress progress;
      progress.queued = [&](size_t done, size_t total) { showProgress(done, total, Step::Queued); };
      progress.delivered = [&](const DeliveredObject&, size_t index, size_t total) {
        showProgress(index + 1, total, Step::Delivered);
      };
      // The outbox delivers by the settings' protocol, DICOM or DICOMweb. Settings that name no
      // usable PACS still let the objects into the outbox: they go once the settings are put
      // right.
      OutboxSendResult result = SendPreparedThroughOutbox(
          outcome->items, *outbox, target,
          targetUsable ? OutboxSendMode::QueueAndDeliver : OutboxSendMode::QueueOnly, progress,
          stop, &outcome->report);
      outcome->success = result.success && targetUsable;
      outcome->message = result.message;
      if (!targetUsable) {
        outcome->message =
            UserMessage::Lines({UserMessage::Text(targetProblem), std::move(outcome->message)});
      }
      outcome->queuedItems = std::move(result.queuedItems);
      outcome->delivery = std::move(result.delivery);
    } else if (outcome->mode == Mode::Send) {
      const SendProgress progress = [&](const DcmObj&, size_t index, size_t total, bool) {
        showProgress(index + 1, total, Step::Delivered);
      };
      outcome->success = SendPreparedBatchToPacs(outcome->items, settings, outcome->message,
                                                 progress, stop, &outcome->report);
    } else {
      // One object at a time, so a long batch needs no more memory than its largest object.
      outcome->success = SaveItemsToFolder(outcome->items, folder, outcome->written,
                                           outcome->message, stop, &outcome->report);
    }
    QMetaObject::invokeMethod(
        &receiver_, [this, outcome, sender, finished] { Finish(*outcome, sender, finished); },
        Qt::QueuedConnection);
  });
}

void BatchRunner::Cancel() {
  if (!Running()) return;
  stop_.request_stop();
  CancelBtn->setEnabled(false);
  progress_->setFormat(tr("Cancelling"));
}

void BatchRunner::Finish(const Outcome& outcome, OutboxSender* sender, const Finished& finished) {
  thread_.join();
  progress_->hide();
  CancelBtn->hide();
  progress_->setMinimumWidth(kProgressWidth);
  // Only the items whose objects were stored (or written, or are safely in the outbox) leave the
  // list; everything else stays, named in the message. The files the program made itself (scans,
  // print jobs) are deleted only once their objects are on the PACS: an object that waits in the
  // outbox keeps its work file until the sender delivers it.
  Result result;
  if (outcome.throughOutbox) {
    result.doneItems = outcome.queuedItems;
    if (sender) sender->NoteDelivery(outcome.delivery);
  } else if (outcome.mode == Mode::Send) {
    result.doneItems = FinishDeliveredItems(outcome.report, workFolder_);
  } else {
    result.doneItems = outcome.report.DeliveredItems();
  }
  result.message = outcome.message;
  finished(result);
}
