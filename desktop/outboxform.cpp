// The outbox dialog.
#include "outboxform.h"

#include <QHBoxLayout>
#include <QHeaderView>
#include <QPushButton>
#include <QTableWidget>
#include <QVBoxLayout>
#include <set>

#include "dialogprovider.h"
#include "windowlanguage.h"

namespace {

// The states as the dialog shows them (the journal keeps the English names).
constexpr const char* kShownStates[] = {
    QT_TRANSLATE_NOOP("TOutboxFrm", "waiting"), QT_TRANSLATE_NOOP("TOutboxFrm", "failed"),
    //: Stored on the PACS, which has not yet committed it.
    QT_TRANSLATE_NOOP("TOutboxFrm", "stored"), QT_TRANSLATE_NOOP("TOutboxFrm", "gone")};

}  // namespace

TOutboxFrm::TOutboxFrm(Outbox& outbox, OutboxSender& sender, DialogProvider& dialogs,
                       QWidget* parent)
    : QDialog(parent), outbox_(outbox), sender_(sender), dialogs_(dialogs) {
  setObjectName("OutboxFrm");
  setWindowTitle(tr("Outbox"));
  ObjectGrid = new QTableWidget(0, 4, this);
  ObjectGrid->setObjectName("ObjectGrid");
  ObjectGrid->setAccessibleName(tr("Objects in the outbox"));
  ObjectGrid->setHorizontalHeaderLabels(
      {tr("State"), tr("Attempts"), tr("SOP Instance UID"), tr("Cause")});
  ObjectGrid->setSelectionBehavior(QAbstractItemView::SelectRows);
  ObjectGrid->setSelectionMode(QAbstractItemView::ExtendedSelection);
  ObjectGrid->setEditTriggers(QAbstractItemView::NoEditTriggers);
  ObjectGrid->verticalHeader()->setVisible(false);
  ObjectGrid->horizontalHeader()->setStretchLastSection(true);
  RetryBtn = new QPushButton(tr("Retry now"), this);
  RetryBtn->setObjectName("RetryBtn");
  RemoveBtn = new QPushButton(tr("Remove"), this);
  RemoveBtn->setObjectName("RemoveBtn");
  CloseBtn = new QPushButton(tr("Close"), this);
  CloseBtn->setObjectName("CloseBtn");
  auto* buttons = new QHBoxLayout;
  buttons->addWidget(RetryBtn);
  buttons->addWidget(RemoveBtn);
  buttons->addStretch();
  buttons->addWidget(CloseBtn);
  auto* layout = new QVBoxLayout(this);
  layout->addWidget(ObjectGrid);
  layout->addLayout(buttons);
  resize(720, 360);
  connect(RetryBtn, &QPushButton::clicked, this, &TOutboxFrm::RetryBtnClick);
  connect(RemoveBtn, &QPushButton::clicked, this, &TOutboxFrm::RemoveBtnClick);
  connect(CloseBtn, &QPushButton::clicked, this, &QDialog::accept);
  Refresh();
}

void TOutboxFrm::Refresh() {
  shown_ = outbox_.Entries();
  ObjectGrid->setRowCount(static_cast<int>(shown_.size()));
  for (size_t row = 0; row < shown_.size(); ++row) {
    const OutboxEntry& entry = shown_[row];
    const QString cells[] = {
        tr(kShownStates[static_cast<size_t>(entry.state)]), WindowNumber(entry.attempts),
        QString::fromStdString(entry.sopInstanceUid), QString::fromStdString(entry.cause)};
    for (int column = 0; column < 4; ++column) {
      ObjectGrid->setItem(static_cast<int>(row), column, new QTableWidgetItem(cells[column]));
    }
  }
}

std::vector<std::string> TOutboxFrm::SelectedUids() const {
  std::set<int> rows;
  for (const QModelIndex& index : ObjectGrid->selectionModel()->selectedRows()) {
    rows.insert(index.row());
  }
  std::vector<std::string> uids;
  for (int row : rows) {
    if (row >= 0 && static_cast<size_t>(row) < shown_.size()) {
      uids.push_back(shown_[static_cast<size_t>(row)].sopInstanceUid);
    }
  }
  return uids;
}

void TOutboxFrm::RetryBtnClick() {
  outbox_.Retry(SelectedUids());
  sender_.DeliverNow();
  Refresh();
}

void TOutboxFrm::RemoveBtnClick() {
  const std::vector<std::string> uids = SelectedUids();
  if (uids.empty()) {
    dialogs_.ShowMessage(this, tr("Please select the objects to remove"));
    return;
  }
  const QString question = CountedText(
      "TOutboxFrm",
      QT_TRANSLATE_N_NOOP("TOutboxFrm",
                          "Remove %n objects from the outbox?\nThey will not be sent to the PACS."),
      "Remove %n object from the outbox?\nThey will not be sent to the PACS.",
      static_cast<long long>(uids.size()));
  if (!dialogs_.Confirm(this, tr("WARNING"), question)) return;
  outbox_.Remove(uids);
  sender_.Recount();
  Refresh();
}
