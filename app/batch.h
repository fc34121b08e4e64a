// One batch from the item list to DICOM objects: preparation, conversion and saving to a folder.
#pragma once

#include <cstdint>
#include <stop_token>
#include <string>
#include <string_view>
#include <vector>

#include "batchreport.h"
#include "conversioncontext.h"
#include "settings.h"
#include "studyinfo.h"

// The product code the batch UID carries.
inline constexpr const char* kBatchProductCode = "129";

// The main window's form fields that a batch reads when no search result is chosen. Texts are
// UTF-8, as typed (any script: objects whose texts do not fit ISO 8859-1 are written in UTF-8);
// dates "yyyymmdd".
struct BatchForm {
  std::string patientName;       // "Patient Name"
  std::string patientId;         // "Patient ID"
  int sexIndex = 0;              // the sex box: 0 "Male", 1 "Female", 2 "Other"
  std::string birthDate;         // the "Patient BD / From" picker
  std::string studyDescription;  // "Study Description"
  std::string accessionNumber;   // "Accession Number"
  std::string studyDate;         // the "Study Date / To" picker
  std::string modalityText;      // the modality box's text
};

// The objects of one batch, one list per kind, in the order they are sent or saved.
struct BatchLists {
  DataSetList images;
  DataSetList documents;
  DataSetList pdfs;
  DataSetList videos;
};

// The generated-accession counter: process-wide, 0 at start, wraps to 0 above 9999.
extern int32_t AccessionCounter;

// The modality box's value: one of its items other than "ALL" stands for itself; "ALL" and
// typed texts give "OT".
std::string ModalityFromBox(std::string_view text);

// Fills CurrentStudy from the chosen search result (when `chosen` is set) or from the form,
// (the study UID and referring physician of the previous batch are kept for the same typed
// patient and start empty when the typed Patient ID or Name differs),
// takes the institution and how camera JPEGs are converted from the settings, generates an
// accession number when there is none, builds BatchUIDRoot and resets the batch counters. False,
// with the message the user sees, when the batch must not run (no patient name, no patient ID, no
// items, or no batch stamp within its short wait); CurrentStudy and the accession counter are
// updated either way.
bool PrepareBatch(const BatchForm& form, const StudyInfo* chosen, size_t itemCount,
                  const SetupConfig& settings, UserMessage& message);
// The same with the message in English (the command line, tests).
bool PrepareBatch(const BatchForm& form, const StudyInfo* chosen, size_t itemCount,
                  const SetupConfig& settings, std::string& message);

// The converter for a file by its upper-cased extension; nullptr for a file the batch skips.
Converter ConverterFor(const std::string& path);

// Converts every item, in list order, into the lists of their kinds, and records in `report`
// (made anew for `items`) which object came from which item. An item of another extension, a
// document without any text and a source that cannot be converted give no object: the report
// names each with its reason ("unknown kind", "no text", the converter's reason, which also
// becomes the report's cause) and the other items are converted all the same. `message` receives
// the converters' error messages, one a line. Once `stop` is requested no further item is
// converted and the report is marked cancelled. True when every item gave its object.
// Pictures are decoded and encoded on `workers` threads (0: one per core; 1: none beside the
// caller); objects are numbered and listed in item order whatever the count.
bool ConvertItems(const std::vector<std::string>& items, BatchLists& lists, BatchReport& report,
                  UserMessage& message, std::stop_token stop = {}, unsigned workers = 0);

// The same without a report: items of other extensions and documents without any text are added
// to `skipped` when given; false when a source could not be converted (the others are in the
// lists).
bool ConvertItems(const std::vector<std::string>& items, BatchLists& lists, UserMessage& message,
                  std::vector<std::string>* skipped = nullptr, unsigned workers = 0);

// Writes every object as folder/<SOP Instance UID>.dcm, lists in the order images, documents,
// PDFs, videos, and empties the lists. Paths written go to `written`; false, with a message
// naming each file that could not be written, when any write failed. Once `stop` is requested
// nothing more is written (false, and the report is marked cancelled). Each object's fate goes to
// `report` when given.
bool WriteBatch(BatchLists& lists, const std::string& folder, std::vector<std::string>& written,
                UserMessage& message, std::stop_token stop = {}, BatchReport* report = nullptr);

// "Save To Folder" without its dialogs: PrepareBatch, ConvertItems, WriteBatch. Nothing is
// written when preparation fails.
bool SaveBatch(const BatchForm& form, const StudyInfo* chosen,
               const std::vector<std::string>& items, const SetupConfig& settings,
               const std::string& folder, std::vector<std::string>& written, UserMessage& message);

// The part of SaveBatch after a successful PrepareBatch: conversion and writing. Every object
// that was made is written; true when every item was written. Otherwise `message` says what was
// not: the cancelled run, the files that could not be written, and "2 of 7 items were not
// written: ..." naming the items and why. `report`, when given, tells what became of each item.
bool SavePreparedBatch(const std::vector<std::string>& items, const std::string& folder,
                       std::vector<std::string>& written, UserMessage& message,
                       std::stop_token stop = {}, BatchReport* report = nullptr);

// The message of a Save that did not write every item (empty when it did).
UserMessage SaveOutcomeMessage(const BatchReport& report, const UserMessage& writeErrors);

// Writes one object as a Part 10 file. Large values (a video, a big PDF) are written straight
// from the object instead of through an encoded copy, so saving needs little memory beyond the
// object itself. The file appears only when complete.
bool SaveObjectFile(DcmObj& dataSet, const std::string& path);
