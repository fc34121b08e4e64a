// One batch from the item list to DICOM objects: preparation, conversion and saving to a folder.
#include "batch.h"

#include <algorithm>
#include <exception>
#include <filesystem>
#include <memory>
#include <optional>
#include <thread>

#include "batchreport.h"
#include "batchuid.h"
#include "convertimage.h"
#include "convertmp4.h"
#include "convertpdf.h"
#include "converttext.h"
#include "itemlist.h"
#include "log.h"
#include "pictureencoders.h"
#include "sourcefile.h"
#include "uids.h"

int32_t AccessionCounter = 0;

namespace {

constexpr std::string_view kModalityItems[] = {"CT", "MR", "CR", "US", "MG",
                                               "DX", "XA", "OT", "ES", "XC"};

// A batch larger than this could not keep its instance UIDs within 64 characters.
constexpr size_t kMaxBatchItems = 99999;

struct Route {
  ItemKind kind;
  Converter converter;
  DataSetList BatchLists::*list;
};

const Route kRoutes[] = {
    {ItemKind::Image, ConvertImage, &BatchLists::images},
    {ItemKind::Document, ConvertText, &BatchLists::documents},
    {ItemKind::Pdf, ConvertPDF, &BatchLists::pdfs},
    {ItemKind::Video, ConvertMP4, &BatchLists::videos},
};

const Route* RouteFor(const std::string& path) {
  const ItemKind kind = KindOfItem(path);
  for (const Route& route : kRoutes) {
    if (route.kind == kind) return &route;
  }
  return nullptr;
}

}  // namespace

std::string ModalityFromBox(std::string_view text) {
  for (std::string_view item : kModalityItems) {
    if (item == text) return std::string(item);
  }
  return "OT";
}

bool PrepareBatch(const BatchForm& form, const StudyInfo* chosen, size_t itemCount,
                  const SetupConfig& settings, std::string& message) {
  UserMessage said;
  const bool result = PrepareBatch(form, chosen, itemCount, settings, said);
  message = said.English();
  return result;
}

bool PrepareBatch(const BatchForm& form, const StudyInfo* chosen, size_t itemCount,
                  const SetupConfig& settings, UserMessage& message) {
  bool result = true;
  message = {};
  StudyInfo& study = CurrentStudy;
  study.studyDate = TodayText();
  study.studyTime = NowText();
  if (chosen != nullptr) {
    study.patientName = chosen->patientName;
    study.patientId = chosen->patientId;
    study.patientSex = chosen->patientSex;
    study.patientBirthDate = chosen->patientBirthDate;
    study.studyDescription = chosen->studyDescription;
    study.studyDate = chosen->studyDate;
    study.accessionNumber = chosen->accessionNumber;
    study.studyInstanceUid = chosen->studyInstanceUid;
    study.referringPhysicianName = chosen->referringPhysicianName;
  } else {
    // The study UID and referring physician of the previous batch carry over only for the same
    // patient: another patient's objects must never be filed under that study.
    if (form.patientId != study.patientId || form.patientName != study.patientName) {
      study.studyInstanceUid.clear();
      study.referringPhysicianName.clear();
    }
    study.studyDate = form.studyDate;
    study.patientName = form.patientName;
    study.patientId = form.patientId;
    study.patientSex = form.sexIndex == 1 ? "F" : form.sexIndex == 2 ? "O" : "M";
    study.patientBirthDate = form.birthDate;
    study.studyDescription = form.studyDescription;
    study.accessionNumber = form.accessionNumber;
  }
  study.modality = ModalityFromBox(form.modalityText);
  study.institutionName = settings.InstitutionName;
  KeepCameraJpegs = settings.KeepCameraJpegs;

  if (study.patientName.empty()) {
    message = UserMessage(UserMessageKind::PatientNameEmpty);
    result = false;
  } else if (study.patientId.empty()) {
    message = UserMessage(UserMessageKind::PatientIdEmpty);
    result = false;
  } else if (itemCount == 0) {
    message = UserMessage(UserMessageKind::NoFilesToSend);
    result = false;
  } else if (itemCount > kMaxBatchItems) {
    message = UserMessage(UserMessageKind::TooManyFiles,
                          {UserMessage::Number(static_cast<long long>(itemCount)),
                           UserMessage::Number(static_cast<long long>(kMaxBatchItems))});
    result = false;
  }

  if (study.accessionNumber.empty()) {
    if (AccessionCounter > 9999) AccessionCounter = 0;
    study.accessionNumber = LocalClockText("%y%m%d%H%M") + std::to_string(AccessionCounter);
    ++AccessionCounter;
  }
  const std::string generated =
      GenerateUid(InstallationId(), study.patientId, study.accessionNumber, study.studyDate,
                  study.studyTime, kBatchProductCode);
  // GenerateUid alone repeats itself for the same patient and accession within a minute and can
  // run past 64 characters once the instance number is added; the batch root fixes both.
  UserMessage stampProblem;
  const std::optional<uint64_t> stamp = NextBatchStamp(stampProblem);
  if (stamp) {
    BatchUIDRoot = MakeBatchUidRoot(generated, UidUserComponent(), *stamp, itemCount);
  } else {
    // Without a stamp the batch could repeat another's UIDs: it does not run.
    BatchUIDRoot.clear();
    if (result) message = stampProblem;
    result = false;
  }
  if (study.studyInstanceUid.empty()) study.studyInstanceUid = BatchUIDRoot;
  WriteLog("INFO, Study Instance UID = " + study.studyInstanceUid);
  InstanceCounter = 0;
  SeriesNumberText.clear();
  return result;
}

Converter ConverterFor(const std::string& path) {
  const Route* route = RouteFor(path);
  return route != nullptr ? route->converter : nullptr;
}

namespace {

// Pictures encoded ahead of the item being finished, per worker: enough to keep every worker busy
// while the batch waits for the oldest, few enough that their encoded streams stay small.
constexpr size_t kPicturesAheadPerWorker = 2;

unsigned WorkersForConversion(unsigned requested) {
  if (requested != 0) return requested;
  const unsigned cores = std::thread::hardware_concurrency();
  return cores == 0 ? 1 : cores;
}

}  // namespace

bool ConvertItems(const std::vector<std::string>& items, BatchLists& lists, BatchReport& report,
                  UserMessage& message, std::stop_token stop, unsigned workers) {
  message = {};
  report = BatchReport(items);
  workers = WorkersForConversion(workers);
  // Pictures, the costly items, are decoded and encoded on worker threads ahead of the item being
  // finished; every object is still numbered and listed here, one item after the other in list
  // order, exactly as a single thread would. With one worker nothing runs beside the batch.
  std::optional<PictureEncoders> encoders;
  if (workers > 1) encoders.emplace(workers);
  size_t queuedUpTo = 0;  // items before this index have been queued for encoding when pictures
  bool allConverted = true;
  for (size_t i = 0; i < items.size(); ++i) {
    // A cancelled batch converts nothing more; the items not reached stay waiting.
    if (stop.stop_requested()) {
      report.MarkCancelled();
      break;
    }
    if (encoders) {
      const size_t ahead = kPicturesAheadPerWorker * workers;
      queuedUpTo = std::max(queuedUpTo, i);
      while (queuedUpTo < items.size() && encoders->Queued() < ahead) {
        const Route* route = RouteFor(items[queuedUpTo]);
        if (route != nullptr && route->kind == ItemKind::Image) encoders->Add(items[queuedUpTo]);
        ++queuedUpTo;
      }
    }
    const Route* route = RouteFor(items[i]);
    if (route == nullptr) {
      WriteLog("INFO, ConvertItems, skipped (unknown kind): " + items[i]);
      report.NoObject(i, kUnknownKindReason);
      allConverted = false;
      continue;
    }
    DataSetList& list = lists.*route->list;
    const size_t before = list.size();
    std::string error;
    bool converted = false;
    // A converter that runs out of memory (or meets any other exception) fails this item with
    // a message; it never ends the program, and the items already converted are kept.
    try {
      if (encoders && route->kind == ItemKind::Image) {
        EncodedPicture picture;
        converted = encoders->TakeOldest(picture, error);
        if (converted) AppendImageObject(std::move(picture), list);
      } else {
        converted = route->converter(items[i], list, error);
      }
    } catch (const std::exception& failure) {
      WriteLog("ERROR, ConvertItems, " + items[i] + ": " + failure.what());
      error = "Cannot convert \"" + items[i] + "\": " + failure.what();
    }
    if (!converted) {
      allConverted = false;
      // A document without any text gives no report from its converter: it is named, not logged
      // as an error.
      if (error.empty()) {
        WriteLog("INFO, ConvertItems, skipped (no text): " + items[i]);
        report.NoObject(i, kNoTextReason);
        continue;
      }
      // The user is sent to the log for the details, so the log says which file failed and why.
      WriteLog("ERROR, ConvertItems, " + error);
      const std::string reason = ShortReason(error, items[i]);
      report.NoObject(i, reason);
      report.SetCause(
          UserMessage(UserMessageKind::NamedCause,
                      {UserMessage::Text(ItemName(items[i])), UserMessage::Text(reason)}));
      message.AddLine(UserMessage::Text(error));
      // The objects made before stay: every other item still goes out.
      while (list.size() > before) list.pop_back();
      continue;
    }
    for (size_t made = before; made < list.size(); ++made) report.ObjectMade(i, *list[made]);
  }
  return allConverted && !report.Cancelled();
}

bool ConvertItems(const std::vector<std::string>& items, BatchLists& lists, UserMessage& message,
                  std::vector<std::string>* skipped, unsigned workers) {
  BatchReport report;
  ConvertItems(items, lists, report, message, {}, workers);
  bool noError = true;
  for (size_t i = 0; i < items.size(); ++i) {
    if (report.Fate(i) != ItemFate::NoObject) continue;
    const UserMessage& reason = report.Reason(i);
    if (reason == kNoTextReason || reason == kUnknownKindReason) {
      if (skipped != nullptr) skipped->push_back(items[i]);
    } else {
      noError = false;
    }
  }
  return noError;
}

bool SaveObjectFile(DcmObj& dataSet, const std::string& path) {
  return dataSet.SaveToFile(path, dataSet.GetString(0x0008, 0x0016),
                            dataSet.GetString(0x0008, 0x0018));
}

bool WriteBatch(BatchLists& lists, const std::string& folder, std::vector<std::string>& written,
                UserMessage& message, std::stop_token stop, BatchReport* report) {
  message = {};
  bool result = true;
  for (DataSetList* list : {&lists.images, &lists.documents, &lists.pdfs, &lists.videos}) {
    for (std::unique_ptr<DcmObj>& dataSet : *list) {
      // Cancelled: the object being written is finished, the rest are not written.
      if (stop.stop_requested()) {
        if (report != nullptr) report->MarkCancelled();
        result = false;
        break;
      }
      const std::string path =
          (std::filesystem::path(folder) / (dataSet->GetString(0x0008, 0x0018) + ".dcm")).string();
      const bool saved = SaveObjectFile(*dataSet, path);
      if (saved) {
        written.push_back(path);
      } else {
        message.AddLine(UserMessage(UserMessageKind::CannotWriteSeeLog, {UserMessage::Text(path)}));
        result = false;
      }
      if (report != nullptr) report->ObjectDone(*dataSet, saved);
      // Each object goes as soon as it is written, so a batch's memory shrinks as it is saved.
      dataSet.reset();
    }
    list->clear();
  }
  return result;
}

bool SaveBatch(const BatchForm& form, const StudyInfo* chosen,
               const std::vector<std::string>& items, const SetupConfig& settings,
               const std::string& folder, std::vector<std::string>& written, UserMessage& message) {
  if (!PrepareBatch(form, chosen, items.size(), settings, message)) return false;
  return SavePreparedBatch(items, folder, written, message);
}

UserMessage SaveOutcomeMessage(const BatchReport& report, const UserMessage& writeErrors) {
  if (report.Complete()) return {};
  UserMessage message;
  if (report.Cancelled()) message.AddLine(report.Cancelled(DoneAs::Written));
  message.AddLine(writeErrors);
  message.AddLine(report.NotDelivered(DoneAs::Written));
  return message;
}

bool SavePreparedBatch(const std::vector<std::string>& items, const std::string& folder,
                       std::vector<std::string>& written, UserMessage& message,
                       std::stop_token stop, BatchReport* report) {
  BatchReport local;
  BatchReport& outcome = report != nullptr ? *report : local;
  outcome = BatchReport(items);
  if (folder.empty()) return false;
  BatchLists lists;
  UserMessage conversionErrors;
  ConvertItems(items, lists, outcome, conversionErrors, stop);
  UserMessage writeErrors;
  WriteBatch(lists, folder, written, writeErrors, stop, &outcome);
  message = SaveOutcomeMessage(outcome, writeErrors);
  return outcome.Complete();
}
