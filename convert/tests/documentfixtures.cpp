// Small Word and DOCX files made by the tests themselves, with libgsf's and libzip's writers.
#include "documentfixtures.h"

#include <gsf/gsf-outfile-msole.h>
#include <gsf/gsf-outfile.h>
#include <gsf/gsf-output-stdio.h>
#include <gsf/gsf-utils.h>
#include <zip.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <stdexcept>

namespace fixtures {

namespace {

void Put16(std::string& bytes, size_t offset, uint16_t value) {
  bytes[offset] = static_cast<char>(value & 0xFF);
  bytes[offset + 1] = static_cast<char>(value >> 8);
}

void Put32(std::string& bytes, size_t offset, uint32_t value) {
  for (int i = 0; i < 4; ++i) bytes[offset + i] = static_cast<char>((value >> (8 * i)) & 0xFF);
}

void Append32(std::string& bytes, uint32_t value) {
  bytes.append(4, '\0');
  Put32(bytes, bytes.size() - 4, value);
}

// UTF-8 to UTF-16LE for the test texts (no characters beyond U+FFFF are needed).
std::string Utf16Le(const std::string& utf8) {
  std::string out;
  for (size_t i = 0; i < utf8.size();) {
    const auto lead = static_cast<uint8_t>(utf8[i]);
    uint32_t codePoint = lead;
    size_t length = 1;
    if (lead >= 0xE0) {
      codePoint = lead & 0x0F;
      length = 3;
    } else if (lead >= 0xC0) {
      codePoint = lead & 0x1F;
      length = 2;
    }
    for (size_t k = 1; k < length; ++k) {
      codePoint = (codePoint << 6) | (static_cast<uint8_t>(utf8[i + k]) & 0x3F);
    }
    out += static_cast<char>(codePoint & 0xFF);
    out += static_cast<char>(codePoint >> 8);
    i += length;
  }
  return out;
}

}  // namespace

DocStreams MakeDocStreams(const std::vector<DocPiece>& pieces, bool table1Flag,
                          int propertyModifiers) {
  constexpr size_t kFibSize = 1024;
  DocStreams streams;
  std::string& word = streams.wordDocument;
  word.assign(kFibSize, '\0');
  Put16(word, 0x0000, 0xA5EC);
  Put16(word, 0x0002, 0x00C1);
  Put16(word, 0x000A, table1Flag ? 0x0200 : 0x0000);

  std::vector<uint32_t> cps = {0};
  std::vector<uint32_t> fcs;
  for (const DocPiece& piece : pieces) {
    const size_t offset = word.size();
    if (piece.compressed) {
      word += piece.text;
      fcs.push_back(static_cast<uint32_t>(offset * 2) | 0x40000000u);
      cps.push_back(cps.back() + static_cast<uint32_t>(piece.text.size()));
    } else {
      const std::string units = Utf16Le(piece.text);
      word += units;
      fcs.push_back(static_cast<uint32_t>(offset));
      cps.push_back(cps.back() + static_cast<uint32_t>(units.size() / 2));
    }
  }

  std::string plc;
  for (const uint32_t cp : cps) Append32(plc, cp);
  for (const uint32_t fc : fcs) {
    plc += std::string("\0\0", 2);  // flags
    Append32(plc, fc);
    plc += std::string("\0\0", 2);  // property modifier
  }
  std::string clx;
  for (int i = 0; i < propertyModifiers; ++i) {
    clx += '\x01';
    clx += std::string("\x03\x00", 2);  // cbGrpprl = 3
    clx += std::string("\x25\x00\x01", 3);
  }
  clx += '\x02';
  Append32(clx, static_cast<uint32_t>(plc.size()));
  clx += plc;

  streams.table = std::string(16, '\xEE') + clx;  // the Clx need not start the stream
  Put32(word, 418, 16);
  Put32(word, 422, static_cast<uint32_t>(clx.size()));
  return streams;
}

void WriteCompoundFile(const std::string& path,
                       const std::vector<std::pair<std::string, std::string>>& streams) {
  gsf_init();
  GError* error = nullptr;
  GsfOutput* output = gsf_output_stdio_new(path.c_str(), &error);
  if (output == nullptr) throw std::runtime_error("cannot create " + path);
  GsfOutfile* storage = gsf_outfile_msole_new(output);
  for (const auto& [name, bytes] : streams) {
    GsfOutput* stream = gsf_outfile_new_child(storage, name.c_str(), FALSE);
    gsf_output_write(stream, bytes.size(), reinterpret_cast<const guint8*>(bytes.data()));
    gsf_output_close(stream);
    g_object_unref(stream);
  }
  gsf_output_close(GSF_OUTPUT(storage));
  g_object_unref(storage);
  g_object_unref(output);
}

void WriteZip(const std::string& path,
              const std::vector<std::pair<std::string, std::string>>& entries) {
  int error = 0;
  zip_t* archive = zip_open(path.c_str(), ZIP_CREATE | ZIP_TRUNCATE, &error);
  if (archive == nullptr) throw std::runtime_error("cannot create " + path);
  for (const auto& [name, bytes] : entries) {
    // libzip reads the buffer when the archive is closed, so it gets its own copy.
    void* copy = std::malloc(bytes.size() + 1);
    std::memcpy(copy, bytes.data(), bytes.size());
    zip_source_t* source = zip_source_buffer(archive, copy, bytes.size(), 1);
    zip_file_add(archive, name.c_str(), source, ZIP_FL_OVERWRITE);
  }
  if (zip_close(archive) != 0) throw std::runtime_error("cannot write " + path);
}

std::string MakeDocumentXml(const std::vector<std::vector<std::string>>& paragraphs) {
  std::string xml =
      "<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"yes\"?>\n"
      "<w:document xmlns:w=\"http://schemas.openxmlformats.org/wordprocessingml/2006/main\">"
      "<w:body>";
  for (const auto& runs : paragraphs) {
    xml += "<w:p><w:pPr><w:jc w:val=\"left\"/></w:pPr>";
    for (const std::string& run : runs)
      xml += "<w:r><w:rPr><w:b/></w:rPr><w:t>" + run + "</w:t></w:r>";
    xml += "</w:p>";
  }
  xml += "<w:sectPr/></w:body></w:document>";
  return xml;
}

}  // namespace fixtures
