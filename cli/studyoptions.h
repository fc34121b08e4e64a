// The patient and study options of the batch verbs, turned into the form a batch reads.
#pragma once

#include <set>
#include <string>

#include "args.h"
#include "batch.h"

// --patient-name, --patient-id, --sex, --birth-date, --accession, --study-description,
// --study-date, --study-uid, --referring and --modality.
std::set<std::string> StudyValuedOptions(std::set<std::string> own = {});
extern const char* const kStudyOptionsUsage;

// --keep-camera-jpegs: the setting KeepCameraJpegs for this run.
std::set<std::string> ConversionFlags(std::set<std::string> own = {});
// Turns the setting on in `settings` when the option is given; the settings file's value stands
// otherwise.
void ApplyConversionFlags(const ParsedArgs& parsed, SetupConfig& settings);

// Fills `form` (texts narrowed from UTF-8 to Windows-1252) and sets the values the window keeps
// from an earlier batch, the Study Instance UID and the referring physician, in CurrentStudy.
// False, with `error`, for a malformed option.
bool BatchFormFromOptions(const ParsedArgs& parsed, BatchForm& form, std::string& error);
