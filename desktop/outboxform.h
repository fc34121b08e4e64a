// The outbox dialog: the objects waiting for their PACS, awaiting its commitment or refused by it,
// each with its patient, file, kind, batch time, PACS, state and cause; with Retry now, Send to
// the current PACS (for objects meant for another one) and Remove.
#pragma once

#include <QDialog>
#include <string>
#include <vector>

#include "outbox.h"
#include "outboxsender.h"

class DialogProvider;
class QLabel;
class QPushButton;
class QTableWidget;

class TOutboxFrm : public QDialog {
  Q_OBJECT

 public:
  TOutboxFrm(Outbox& outbox, OutboxSender& sender, DialogProvider& dialogs,
             QWidget* parent = nullptr);

  // The grid's columns, in order.
  enum Column { Patient, File, Kind, BatchTime, Destination, State, Cause, ColumnCount };

  // Fills the table from the outbox as it now stands.
  void Refresh();
  void RetryBtnClick();  // failed objects selected (all failed ones when none is) wait again
  // Objects selected (all when none is) that wait for another PACS than the settings' go to the
  // settings' PACS instead, after a question.
  void SendToCurrentBtnClick();
  void RemoveBtnClick();  // the selected objects leave the outbox, after a question

  QLabel* ElsewhereLabel;  // "3 waiting for RESEARCH at 10.0.0.9:104", one line per PACS
  QTableWidget* ObjectGrid;
  QPushButton* RetryBtn;
  QPushButton* SendToCurrentBtn;
  QPushButton* RemoveBtn;
  QPushButton* CloseBtn;

 private:
  // The SOP Instance UIDs of the selected rows.
  std::vector<std::string> SelectedUids() const;
  QString StateText(const OutboxEntry& entry) const;

  Outbox& outbox_;
  OutboxSender& sender_;
  DialogProvider& dialogs_;
  std::vector<OutboxEntry> shown_;
};
