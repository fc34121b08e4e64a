// The Native DICOM Model read into data sets, with libxml2.
#include "dicomxml.h"

#include <libxml/parser.h>
#include <libxml/tree.h>

#include <charconv>
#include <cstring>
#include <memory>

#include "answerelements.h"
#include "bufdata.h"
#include "syntaxes.h"

namespace {

struct DocumentFree {
  void operator()(xmlDoc* document) const { xmlFreeDoc(document); }
};
struct TextFree {
  void operator()(xmlChar* text) const { xmlFree(text); }
};

bool Named(const xmlNode* node, const char* name) {
  return node->type == XML_ELEMENT_NODE &&
         std::strcmp(reinterpret_cast<const char*>(node->name), name) == 0;
}

std::string Attribute(const xmlNode* node, const char* name) {
  const std::unique_ptr<xmlChar, TextFree> value(
      xmlGetNoNsProp(const_cast<xmlNode*>(node), reinterpret_cast<const xmlChar*>(name)));
  return value ? reinterpret_cast<const char*>(value.get()) : std::string();
}

std::string Content(const xmlNode* node) {
  const std::unique_ptr<xmlChar, TextFree> value(xmlNodeGetContent(node));
  return value ? reinterpret_cast<const char*>(value.get()) : std::string();
}

// "GGGGEEEE" in hexadecimal; false for anything else.
bool ParseTag(const std::string& text, uint16_t& group, uint16_t& element) {
  uint32_t value = 0;
  if (text.size() != 8) return false;
  const auto [end, problem] = std::from_chars(text.data(), text.data() + 8, value, 16);
  if (problem != std::errc() || end != text.data() + 8) return false;
  group = static_cast<uint16_t>(value >> 16);
  element = static_cast<uint16_t>(value & 0xFFFF);
  return true;
}

template <typename Number>
bool AppendNumber(const std::string& text, std::string& bytes) {
  Number number{};
  const char* first = text.data();
  const char* last = text.data() + text.size();
  while (first < last && (*first == ' ' || *first == '+')) ++first;
  const auto [end, problem] = std::from_chars(first, last, number);
  if (problem != std::errc() || first == last) return false;
  for (const char* rest = end; rest < last; ++rest) {
    if (*rest != ' ' && *rest != '\n' && *rest != '\r' && *rest != '\t') return false;
  }
  char raw[sizeof(Number)];
  std::memcpy(raw, &number, sizeof(Number));  // this machine is little endian, as the encoding
  bytes.append(raw, sizeof(Number));
  return true;
}

bool AppendBinary(const std::string& vr, const std::string& text, std::string& bytes) {
  if (vr == "US") return AppendNumber<uint16_t>(text, bytes);
  if (vr == "SS") return AppendNumber<int16_t>(text, bytes);
  if (vr == "UL") return AppendNumber<uint32_t>(text, bytes);
  if (vr == "SL") return AppendNumber<int32_t>(text, bytes);
  if (vr == "FL") return AppendNumber<float>(text, bytes);
  if (vr == "FD") return AppendNumber<double>(text, bytes);
  return false;
}

void ReadAttributes(const xmlNode* parent, DcmObj& dataSet, int depth);

void ReadAttribute(const xmlNode* attribute, DcmObj& dataSet, int depth) {
  uint16_t group = 0;
  uint16_t element = 0;
  const std::string vr = Attribute(attribute, "vr");
  if (!ParseTag(Attribute(attribute, "tag"), group, element) || vr.size() != 2) return;
  if (vr == "SQ") {
    if (depth >= kMaxSequenceDepth) return;
    auto sequence = NewSequence(group, element);
    for (const xmlNode* item = attribute->children; item != nullptr; item = item->next) {
      if (!Named(item, "Item")) continue;
      auto nested = NewSequenceItem();
      ReadAttributes(item, *nested, depth + 1);
      sequence->Append(std::move(nested));
    }
    dataSet.Append(std::move(sequence));
    return;
  }
  const bool text = IsPlainTextVR(vr);
  std::string bytes;
  bool first = true;
  for (const xmlNode* value = attribute->children; value != nullptr; value = value->next) {
    if (!Named(value, "Value")) continue;
    if (text) {
      bytes += (first ? "" : "\\") + Content(value);
    } else if (!AppendBinary(vr, Content(value), bytes)) {
      return;  // a person name, or a number that is none: left out
    }
    first = false;
  }
  if (bytes.size() > 0xFFFFFFF0u) return;
  dataSet.Append(DcmTag::FromBytes(group, element, static_cast<uint32_t>(bytes.size()),
                                   bytes.empty() ? nullptr : bytes.data(), vr.c_str()));
}

void ReadAttributes(const xmlNode* parent, DcmObj& dataSet, int depth) {
  for (const xmlNode* child = parent->children; child != nullptr; child = child->next) {
    if (Named(child, "DicomAttribute")) ReadAttribute(child, dataSet, depth);
  }
}

}  // namespace

bool DataSetFromXml(std::string_view text, DcmObj& dataSet, std::string& error) {
  if (text.size() > static_cast<size_t>(INT32_MAX)) {
    error = "the answer is too large";
    return false;
  }
  const std::unique_ptr<xmlDoc, DocumentFree> document(
      xmlReadMemory(text.data(), static_cast<int>(text.size()), "answer.xml", nullptr,
                    XML_PARSE_NONET | XML_PARSE_NOERROR | XML_PARSE_NOWARNING));
  if (!document) {
    error = "the answer is not valid XML";
    return false;
  }
  const xmlNode* root = xmlDocGetRootElement(document.get());
  if (document->intSubset != nullptr || document->extSubset != nullptr) {
    error = "the answer declares a DTD";
    return false;
  }
  if (root == nullptr || !Named(root, "NativeDicomModel")) {
    error = "the answer is not a DICOM XML data set";
    return false;
  }
  dataSet.SetTransferSyntax(kExplicitVRLittleEndian);
  ReadAttributes(root, dataSet, 0);
  return true;
}
