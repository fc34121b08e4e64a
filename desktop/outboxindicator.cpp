// The outbox, its sender and the indicator.
#include "outboxindicator.h"

#include <QPushButton>
#include <string>

#include "log.h"
#include "messagewording.h"
#include "outboxform.h"

namespace {

void ShowStatus(QPushButton* indicator, const OutboxStatus& status) {
  const QString text = Worded(OutboxIndicatorMessage(status));
  indicator->setText(text);
  indicator->setAccessibleDescription(text);
  indicator->setVisible(!text.isEmpty());
}

}  // namespace

OutboxIndicator::OutboxIndicator(QWidget* panel, DialogProvider& dialogs) : dialogs_(dialogs) {
  OutboxBtn = new QPushButton(panel);
  OutboxBtn->setObjectName("OutboxBtn");
  OutboxBtn->setMinimumSize(120, 22);
  OutboxBtn->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
  OutboxBtn->setFlat(true);
  OutboxBtn->setStyleSheet("text-align: left");
  OutboxBtn->setAccessibleName(OutboxIndicator::tr("Outbox"));
  OutboxBtn->hide();
}

OutboxIndicator::~OutboxIndicator() = default;

bool OutboxIndicator::Start(const SetupConfig& settings, const std::filesystem::path& workFolder) {
  auto outbox = std::make_unique<Outbox>(Outbox::DefaultFolder());
  std::string error;
  if (!outbox->Open(error)) {
    WriteLog("ERROR, the outbox cannot be used: " + error);
    return false;
  }
  outbox_ = std::move(outbox);
  {
    std::lock_guard lock(settingsMutex_);
    settings_ = settings;
  }
  sender_ = std::make_unique<OutboxSender>(
      *outbox_,
      [this](PacsTarget& target, std::string& problem) {
        std::lock_guard lock(settingsMutex_);
        return PacsTargetFromSettings(settings_, target, problem);
      },
      // Called on the sender's thread; the indicator changes on the GUI thread.
      [indicator = OutboxBtn](const OutboxStatus& status) {
        QMetaObject::invokeMethod(
            indicator, [indicator, status] { ShowStatus(indicator, status); },
            Qt::QueuedConnection);
      },
      workFolder);
  sender_->Start();
  return true;
}

void OutboxIndicator::SettingsChanged(const SetupConfig& settings) {
  {
    std::lock_guard lock(settingsMutex_);
    settings_ = settings;
  }
  if (sender_) sender_->DeliverNow();
}

void OutboxIndicator::Stop() {
  if (sender_) sender_->Stop();
}

void OutboxIndicator::OpenDialog(QWidget* parent) {
  if (!outbox_ || !sender_) return;
  TOutboxFrm dialog(*outbox_, *sender_, dialogs_, parent);
  dialog.exec();
}
