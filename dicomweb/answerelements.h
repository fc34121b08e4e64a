// What the readers of a server's answer (DICOM JSON and XML) build their data sets from.
#pragma once

#include <cstdint>
#include <memory>
#include <string_view>

#include "dcmobj.h"

// True for the VRs whose values an answer gives as plain text (a person name is an object).
bool IsPlainTextVR(std::string_view vr);

// An empty sequence element, and an empty item to append to it, as an answer's reader fills them.
std::unique_ptr<DcmObj> NewSequence(uint16_t group, uint16_t element);
std::unique_ptr<DcmObj> NewSequenceItem();
