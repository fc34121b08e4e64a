// The DOCX reader: "word/document.xml" taken from the ZIP package and walked for runs and
// paragraphs.
#include <libxml/parser.h>
#include <libxml/tree.h>
#include <zip.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <memory>

#include "textreaders.h"

namespace {

constexpr const char* kDocumentEntry = "word/document.xml";
// Deflate turns one compressed byte into at most this many.
constexpr uint64_t kMaxInflateRatio = 1032;
// A main document part larger than this is not a text document we can turn into a report; the
// cap also stops a crafted package from inflating without end.
constexpr uint64_t kLargestDocumentPart = 512ull * 1024 * 1024;

struct ArchiveCloser {
  void operator()(zip_t* archive) const { zip_discard(archive); }
};
struct EntryCloser {
  void operator()(zip_file_t* entry) const { zip_fclose(entry); }
};
struct XmlDocumentFree {
  void operator()(xmlDoc* document) const { xmlFreeDoc(document); }
};
struct XmlParserFree {
  void operator()(xmlParserCtxt* context) const { xmlFreeParserCtxt(context); }
};
struct XmlFree {
  void operator()(xmlChar* text) const { xmlFree(text); }
};

// "prefix:name" of an element, as the document spells it.
bool HasQualifiedName(const xmlNode* node, const char* prefix, const char* localName) {
  if (node->type != XML_ELEMENT_NODE || node->ns == nullptr || node->ns->prefix == nullptr) {
    return false;
  }
  return std::strcmp(reinterpret_cast<const char*>(node->ns->prefix), prefix) == 0 &&
         std::strcmp(reinterpret_cast<const char*>(node->name), localName) == 0;
}

// Document order over the nodes and all their descendants, without recursion: the nesting depth
// of the XML then never matters for the stack.
std::string XmlNodesText(const xmlNode* first) {
  std::string utf8;
  const xmlNode* node = first;
  while (node != nullptr) {
    if (HasQualifiedName(node, "w", "t")) {
      std::unique_ptr<xmlChar, XmlFree> content(xmlNodeGetContent(node));
      if (content) utf8 += reinterpret_cast<const char*>(content.get());
    }
    // The break comes before the paragraph's own text, so every paragraph follows a CR LF.
    if (HasQualifiedName(node, "w", "p")) utf8 += "\r\n";
    if (node->children != nullptr && node->type != XML_ENTITY_REF_NODE) {
      node = node->children;
      continue;
    }
    while (node != nullptr && node->next == nullptr) {
      node = node->parent;
      if (node == nullptr || node == first->parent) {
        node = nullptr;
        break;
      }
    }
    if (node != nullptr) node = node->next;
  }
  return utf8;
}

}  // namespace

bool XmlDocumentText(std::string_view xml, std::string& text, std::string& problem) {
  text.clear();
  if (xml.size() > static_cast<size_t>(INT32_MAX)) {
    problem = "the document part is too large";
    return false;
  }
  std::unique_ptr<xmlParserCtxt, XmlParserFree> context(xmlNewParserCtxt());
  if (!context) {
    problem = "the XML parser could not be created";
    return false;
  }
  // No network, no external DTD or entity loading, and no messages on the console: a document
  // reaches the parser from an untrusted file, and its faults are reported to the user instead.
  const int options = XML_PARSE_NONET | XML_PARSE_NOERROR | XML_PARSE_NOWARNING;
  std::unique_ptr<xmlDoc, XmlDocumentFree> document(xmlCtxtReadMemory(
      context.get(), xml.data(), static_cast<int>(xml.size()), kDocumentEntry, nullptr, options));
  if (!document || !context->wellFormed) {
    const xmlError* failure = xmlCtxtGetLastError(context.get());
    problem = "word/document.xml is not well-formed XML";
    if (failure != nullptr && failure->message != nullptr) {
      std::string message = failure->message;
      while (!message.empty() && (message.back() == '\n' || message.back() == ' ')) {
        message.pop_back();
      }
      problem += " (line " + std::to_string(failure->line) + ": " + message + ")";
    }
    return false;
  }
  // Office documents never carry a document type declaration. Refusing one keeps entity
  // definitions, and the expansion attacks built on them, out of the text walk.
  if (document->intSubset != nullptr || document->extSubset != nullptr) {
    problem = "word/document.xml has a document type declaration, which Word documents never have";
    return false;
  }
  text = XmlNodesText(document->children);
  return true;
}

namespace {

// The text of the open package's word/document.xml; `packageSize` is the package's length.
bool ArchiveDocumentText(zip_t* archive, uint64_t packageSize, std::string& text,
                         std::string& problem) {
  zip_stat_t stat;
  zip_stat_init(&stat);
  if (zip_stat(archive, kDocumentEntry, 0, &stat) != 0 || (stat.valid & ZIP_STAT_SIZE) == 0) {
    problem = "the package has no word/document.xml";
    return false;
  }
  if (stat.size > kLargestDocumentPart) {
    problem = "word/document.xml is too large (" + std::to_string(stat.size) + " bytes)";
    return false;
  }
  std::unique_ptr<zip_file_t, EntryCloser> entry(zip_fopen(archive, kDocumentEntry, 0));
  if (!entry) {
    problem = std::string("word/document.xml cannot be opened: ") + zip_strerror(archive);
    return false;
  }
  // The size the directory claims is believed only as far as the archive can hold it: deflate
  // expands at most 1032 times, a stored entry not at all, and the compressed bytes lie within
  // the file.
  const bool stored = (stat.valid & ZIP_STAT_COMP_METHOD) != 0 && stat.comp_method == ZIP_CM_STORE;
  const uint64_t compressed = (stat.valid & ZIP_STAT_COMP_SIZE) != 0 ? stat.comp_size : packageSize;
  if (compressed > packageSize ||
      stat.size > (stored ? compressed : compressed * kMaxInflateRatio + 1024)) {
    problem = "word/document.xml claims " + std::to_string(stat.size) +
              " bytes, more than the package's " + std::to_string(compressed) +
              " compressed bytes can hold";
    return false;
  }
  // Read in pieces, so the memory follows what really comes out of the archive.
  std::string xml;
  char piece[65536];
  while (xml.size() < stat.size) {
    const zip_uint64_t want = std::min<zip_uint64_t>(sizeof piece, stat.size - xml.size());
    const zip_int64_t got = zip_fread(entry.get(), piece, want);
    if (got < 0) {
      problem = std::string("word/document.xml cannot be read: ") + zip_file_strerror(entry.get());
      return false;
    }
    if (got == 0) break;
    xml.append(piece, static_cast<size_t>(got));
  }
  if (xml.size() != stat.size) {
    problem = "word/document.xml is truncated";
    return false;
  }
  // Reading on to the end lets the library check the entry's CRC.
  char probe = 0;
  if (zip_fread(entry.get(), &probe, 1) != 0) {
    problem = std::string("word/document.xml is corrupt: ") + zip_file_strerror(entry.get());
    return false;
  }
  return XmlDocumentText(xml, text, problem);
}

}  // namespace

bool ReadDocxText(const std::string& path, std::string& text, std::string& error) {
  text.clear();
  const std::string prefix = "Cannot read DOCX document \"" + path + "\": ";
  int openError = 0;
  std::unique_ptr<zip_t, ArchiveCloser> archive(zip_open(path.c_str(), ZIP_RDONLY, &openError));
  if (!archive) {
    zip_error_t reason;
    zip_error_init_with_code(&reason, openError);
    error = prefix;
    error += openError == ZIP_ER_NOZIP || openError == ZIP_ER_INCONS
                 ? std::string("it is not a ZIP package")
                 : std::string(zip_error_strerror(&reason));
    zip_error_fini(&reason);
    return false;
  }
  std::error_code sizeError;
  const uint64_t packageSize = std::filesystem::file_size(path, sizeError);
  std::string problem;
  if (sizeError || !ArchiveDocumentText(archive.get(), packageSize, text, problem)) {
    error = prefix + (sizeError ? "its size cannot be read" : problem);
    text.clear();
    return false;
  }
  return true;
}

bool DocxPackageText(std::string_view package, std::string& text, std::string& problem) {
  text.clear();
  zip_error_t reason;
  zip_error_init(&reason);
  zip_source_t* source = zip_source_buffer_create(package.data(), package.size(), 0, &reason);
  zip_t* opened = source != nullptr ? zip_open_from_source(source, ZIP_RDONLY, &reason) : nullptr;
  if (opened == nullptr) {
    if (source != nullptr) zip_source_free(source);
    zip_error_fini(&reason);
    problem = "it is not a ZIP package";
    return false;
  }
  zip_error_fini(&reason);
  std::unique_ptr<zip_t, ArchiveCloser> archive(opened);
  if (!ArchiveDocumentText(archive.get(), package.size(), text, problem)) {
    text.clear();
    return false;
  }
  return true;
}
