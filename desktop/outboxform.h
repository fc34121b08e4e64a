// The outbox dialog: the objects waiting for the PACS and those it refused, with Retry now and
// Remove.
#pragma once

#include <QDialog>
#include <string>
#include <vector>

#include "outbox.h"
#include "outboxsender.h"

class DialogProvider;
class QPushButton;
class QTableWidget;

class TOutboxFrm : public QDialog {
  Q_OBJECT

 public:
  TOutboxFrm(Outbox& outbox, OutboxSender& sender, DialogProvider& dialogs,
             QWidget* parent = nullptr);

  // Fills the table from the outbox as it now stands.
  void Refresh();
  void RetryBtnClick();   // failed objects selected (all failed ones when none is) wait again
  void RemoveBtnClick();  // the selected objects leave the outbox, after a question

  QTableWidget* ObjectGrid;
  QPushButton* RetryBtn;
  QPushButton* RemoveBtn;
  QPushButton* CloseBtn;

 private:
  // The SOP Instance UIDs of the selected rows.
  std::vector<std::string> SelectedUids() const;

  Outbox& outbox_;
  OutboxSender& sender_;
  DialogProvider& dialogs_;
  std::vector<OutboxEntry> shown_;
};
