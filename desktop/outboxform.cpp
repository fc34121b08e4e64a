// The outbox dialog.
#include "outboxform.h"

#include <QDateTime>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QPushButton>
#include <QTableWidget>
#include <QVBoxLayout>
#include <algorithm>
#include <set>

#include "dialogprovider.h"
#include "outboxdelivery.h"
#include "windowlanguage.h"

namespace {

// The states as the dialog shows them (the journal keeps the English names).
constexpr const char* kShownStates[] = {
    QT_TRANSLATE_NOOP("TOutboxFrm", "waiting"), QT_TRANSLATE_NOOP("TOutboxFrm", "failed"),
    //: Stored on the PACS, which has not yet committed it.
    QT_TRANSLATE_NOOP("TOutboxFrm", "stored"), QT_TRANSLATE_NOOP("TOutboxFrm", "gone")};

QString Q(const std::string& text) {
  return QString::fromStdString(text);
}

// The PACSs of these objects, as the dialog names them: "RESEARCH at 10.0.0.9:104, …".
QString ArchiveList(const std::vector<OutboxEntry>& entries) {
  QStringList names;
  for (const OutboxEntry& entry : entries) {
    const QString name = Q(DestinationText(entry.destination));
    if (!names.contains(name)) names.push_back(name);
  }
  return names.join(", ");
}

}  // namespace

TOutboxFrm::TOutboxFrm(Outbox& outbox, OutboxSender& sender, DialogProvider& dialogs,
                       QWidget* parent)
    : QDialog(parent), outbox_(outbox), sender_(sender), dialogs_(dialogs) {
  setObjectName("OutboxFrm");
  setWindowTitle(tr("Outbox"));
  ElsewhereLabel = new QLabel(this);
  ElsewhereLabel->setObjectName("ElsewhereLabel");
  ElsewhereLabel->setWordWrap(true);
  ObjectGrid = new QTableWidget(0, ColumnCount, this);
  ObjectGrid->setObjectName("ObjectGrid");
  ObjectGrid->setAccessibleName(tr("Objects in the outbox"));
  ObjectGrid->setHorizontalHeaderLabels({tr("Patient"), tr("File"), tr("Kind"), tr("Batch time"),
                                         tr("PACS"), tr("State"), tr("Cause")});
  ObjectGrid->setSelectionBehavior(QAbstractItemView::SelectRows);
  ObjectGrid->setSelectionMode(QAbstractItemView::ExtendedSelection);
  ObjectGrid->setEditTriggers(QAbstractItemView::NoEditTriggers);
  ObjectGrid->setWordWrap(false);
  ObjectGrid->verticalHeader()->setVisible(false);
  // Every column as wide as what it shows, the cause taking what is left; the user may still
  // widen any of them.
  ObjectGrid->horizontalHeader()->setSectionResizeMode(QHeaderView::Interactive);
  ObjectGrid->horizontalHeader()->setStretchLastSection(true);
  RetryBtn = new QPushButton(tr("Retry now"), this);
  RetryBtn->setObjectName("RetryBtn");
  SendToCurrentBtn = new QPushButton(tr("Send to the current PACS"), this);
  SendToCurrentBtn->setObjectName("SendToCurrentBtn");
  SendToCurrentBtn->setToolTip(
      tr("Objects that wait for another PACS than the one in the settings go to this one instead"));
  RemoveBtn = new QPushButton(tr("Remove"), this);
  RemoveBtn->setObjectName("RemoveBtn");
  CloseBtn = new QPushButton(tr("Close"), this);
  CloseBtn->setObjectName("CloseBtn");
  auto* buttons = new QHBoxLayout;
  buttons->addWidget(RetryBtn);
  buttons->addWidget(SendToCurrentBtn);
  buttons->addWidget(RemoveBtn);
  buttons->addStretch();
  buttons->addWidget(CloseBtn);
  auto* layout = new QVBoxLayout(this);
  layout->addWidget(ElsewhereLabel);
  layout->addWidget(ObjectGrid);
  layout->addLayout(buttons);
  resize(960, 400);
  connect(RetryBtn, &QPushButton::clicked, this, &TOutboxFrm::RetryBtnClick);
  connect(SendToCurrentBtn, &QPushButton::clicked, this, &TOutboxFrm::SendToCurrentBtnClick);
  connect(RemoveBtn, &QPushButton::clicked, this, &TOutboxFrm::RemoveBtnClick);
  connect(CloseBtn, &QPushButton::clicked, this, &QDialog::accept);
  Refresh();
}

QString TOutboxFrm::StateText(const OutboxEntry& entry) const {
  PacsTarget current;
  std::string problem;
  if (entry.state == OutboxState::Waiting && sender_.CurrentTarget(current, problem) &&
      !IsForTarget(entry, current)) {
    //: An object that waits for another PACS than the one in the settings: the one it was sent to.
    return tr("waiting for its PACS");
  }
  return tr(kShownStates[static_cast<size_t>(entry.state)]);
}

void TOutboxFrm::Refresh() {
  shown_ = outbox_.Entries();
  ObjectGrid->setRowCount(static_cast<int>(shown_.size()));
  for (size_t row = 0; row < shown_.size(); ++row) {
    const OutboxEntry& entry = shown_[row];
    const QString kinds[] = {tr("image"), tr("document"), tr("PDF"), tr("video"), tr("other")};
    //: A patient's name (%1) and ID (%2).
    const QString patient =
        entry.patientId.empty()
            ? Q(entry.patientName)
            : tr("%1 \u00b7 ID %2").arg(Q(entry.patientName), Q(entry.patientId));
    const QString queued =
        entry.queuedAt == 0
            ? QString()
            : QDateTime::fromSecsSinceEpoch(entry.queuedAt).toString(WindowDateFormat() + " HH:mm");
    const QString destination = entry.destination.kind == DestinationKind::Unknown
                                    ? tr("the PACS of the settings")
                                    : Q(DestinationText(entry.destination));
    const QString cells[ColumnCount] = {patient,
                                        Q(OutboxObjectName(entry)),
                                        kinds[static_cast<int>(KindOf(entry))],
                                        queued,
                                        destination,
                                        StateText(entry),
                                        Q(entry.cause)};
    for (int column = 0; column < ColumnCount; ++column) {
      auto* item = new QTableWidgetItem(cells[column]);
      item->setToolTip(cells[column]);
      ObjectGrid->setItem(static_cast<int>(row), column, item);
    }
    // The whole path and the instance, for whoever needs to tell two objects of one file apart.
    ObjectGrid->item(static_cast<int>(row), File)
        ->setToolTip(Q(entry.source.empty() ? entry.sopInstanceUid
                                            : entry.source + "\n" + entry.sopInstanceUid));
    ObjectGrid->item(static_cast<int>(row), State)
        ->setToolTip(CountedText("TOutboxFrm", QT_TRANSLATE_N_NOOP("TOutboxFrm", "%n attempts"),
                                 "%n attempt", entry.attempts));
  }
  for (int column = 0; column < Cause; ++column) ObjectGrid->resizeColumnToContents(column);

  PacsTarget current;
  std::string problem;
  QStringList elsewhere;
  if (sender_.CurrentTarget(current, problem)) {
    for (const ArchiveCount& archive : WaitingElsewhere(shown_, current)) {
      elsewhere.push_back(CountedText("TOutboxFrm",
                                      QT_TRANSLATE_N_NOOP("TOutboxFrm", "%n waiting for %1"),
                                      "%n waiting for %1", static_cast<long long>(archive.objects))
                              .arg(Q(archive.archive)));
    }
  }
  ElsewhereLabel->setText(elsewhere.join("\n"));
  ElsewhereLabel->setVisible(!elsewhere.isEmpty());
  SendToCurrentBtn->setEnabled(!elsewhere.isEmpty() ||
                               std::any_of(shown_.begin(), shown_.end(), [&](const OutboxEntry& e) {
                                 return e.state == OutboxState::Failed && !IsForTarget(e, current);
                               }));
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

void TOutboxFrm::SendToCurrentBtnClick() {
  PacsTarget current;
  std::string problem;
  if (!sender_.CurrentTarget(current, problem)) {
    dialogs_.ShowMessage(this, Q(problem));
    return;
  }
  const std::vector<std::string> selected = SelectedUids();
  std::vector<OutboxEntry> moving;
  for (const OutboxEntry& entry : shown_) {
    if (entry.state != OutboxState::Waiting && entry.state != OutboxState::Failed) continue;
    if (IsForTarget(entry, current)) continue;
    if (!selected.empty() &&
        std::find(selected.begin(), selected.end(), entry.sopInstanceUid) == selected.end()) {
      continue;
    }
    moving.push_back(entry);
  }
  if (moving.empty()) {
    dialogs_.ShowMessage(this, tr("No object here waits for another PACS"));
    return;
  }
  const QString here = Q(DestinationText(DestinationOf(current)));
  const QString question =
      CountedText("TOutboxFrm",
                  QT_TRANSLATE_N_NOOP("TOutboxFrm",
                                      "Send %n objects meant for %1 to %2 instead?\nThey will not "
                                      "be sent to %1."),
                  "Send %n object meant for %1 to %2 instead?\nIt will not be sent to %1.",
                  static_cast<long long>(moving.size()))
          .arg(ArchiveList(moving), here);
  if (!dialogs_.Confirm(this, tr("Send to the current PACS"), question)) return;
  std::vector<std::string> uids;
  for (const OutboxEntry& entry : moving) uids.push_back(entry.sopInstanceUid);
  ReaddressToCurrent(outbox_, current, uids);
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
