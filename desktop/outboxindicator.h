// The outbox the window sends through, the sender that delivers it in the background, and the
// indicator that shows what waits: a line under the button rows ("3 waiting · next try 14:05 ·
// PACS did not answer"), which also tells when objects that had waited finally went ("3 waiting
// objects were stored on PACSAET"), hidden while there is nothing to say, that opens the outbox
// dialog.
#pragma once

#include <QCoreApplication>
#include <filesystem>
#include <memory>
#include <mutex>

#include "outbox.h"
#include "outboxsender.h"
#include "settings.h"

class DialogProvider;
class QPushButton;
class QWidget;

class OutboxIndicator {
  Q_DECLARE_TR_FUNCTIONS(OutboxIndicator)

 public:
  // Makes the indicator in `panel`, hidden until the sender reports objects waiting.
  OutboxIndicator(QWidget* panel, DialogProvider& dialogs);
  // Stops the sender before the outbox goes.
  ~OutboxIndicator();
  OutboxIndicator(const OutboxIndicator&) = delete;
  OutboxIndicator& operator=(const OutboxIndicator&) = delete;

  // Opens the outbox and starts its sender, which delivers to the PACS of `settings` (and of the
  // settings given later); what waits from an earlier run goes at once. False (and a line in the
  // log) when the outbox folder cannot be used: Send then stores directly.
  bool Start(const SetupConfig& settings, const std::filesystem::path& workFolder);
  // The settings changed: the sender takes them for its next delivery, which starts now, so a
  // PACS just set right gets what waits at once.
  void SettingsChanged(const SetupConfig& settings);
  // Ends the sender's delivery between objects, and its thread.
  void Stop();
  // The outbox dialog, over `parent`; nothing before the outbox is open.
  void OpenDialog(QWidget* parent);

  // The outbox and its sender once started; null when the outbox cannot be used.
  Outbox* OutboxOfWindow() { return outbox_.get(); }
  OutboxSender* Sender() { return sender_.get(); }

  QPushButton* OutboxBtn;

 private:
  DialogProvider& dialogs_;
  // The settings the sender reads for each delivery, copied on the GUI thread when they change.
  std::mutex settingsMutex_;
  SetupConfig settings_;
  std::unique_ptr<Outbox> outbox_;
  std::unique_ptr<OutboxSender> sender_;  // after the outbox, so it stops first
};
