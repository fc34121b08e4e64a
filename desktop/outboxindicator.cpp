// The outbox, its sender and the indicator.
#include "outboxindicator.h"

#include <QPushButton>
#include <QStringList>
#include <string>

#include "log.h"
#include "outboxform.h"

QString OutboxIndicator::StatusText(const OutboxStatus& status) {
  QStringList parts;
  // The news first: objects that had waited have arrived.
  for (const ArchiveCount& stored : status.storedAfterWaiting) {
    const QString archive = QString::fromStdString(stored.archive);
    parts.push_back(
        stored.objects == 1
            ? tr("1 waiting object was stored on %1").arg(archive)
            : tr("%1 waiting objects were stored on %2").arg(stored.objects).arg(archive));
  }
  const std::string waiting = OutboxIndicatorText(status);
  if (!waiting.empty()) parts.push_back(QString::fromStdString(waiting));
  return parts.join(" \u00b7 ");
}

void OutboxIndicator::ShowStatus(QPushButton* indicator, const OutboxStatus& status) {
  const QString text = StatusText(status);
  indicator->setText(text);
  indicator->setAccessibleDescription(text);
  indicator->setVisible(!text.isEmpty());
}

OutboxIndicator::OutboxIndicator(QWidget* panel, DialogProvider& dialogs) : dialogs_(dialogs) {
  OutboxBtn = new QPushButton(panel);
  OutboxBtn->setObjectName("OutboxBtn");
  OutboxBtn->setMinimumSize(120, 22);
  OutboxBtn->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
  OutboxBtn->setFlat(true);
  OutboxBtn->setStyleSheet("text-align: left");
  OutboxBtn->setAccessibleName("Outbox");
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
