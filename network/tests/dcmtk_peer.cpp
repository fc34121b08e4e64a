// Real DCMTK peers for integration tests, and the objects they receive.
#include "dcmtk_peer.h"

#include <fstream>

namespace dcmtkpeer {

StoreSCP::StoreSCP(const std::filesystem::path& folder, const std::vector<std::string>& sopClasses,
                   const std::vector<std::string>& transferSyntaxes,
                   const std::vector<std::string>& extraArguments)
    : folder_(folder) {
  std::filesystem::create_directories(folder_ / "in");
  std::ofstream config(folder_ / "storescp.cfg");
  config << "[[TransferSyntaxes]]\n[Plain]\nTransferSyntax1 = 1.2.840.10008.1.2\n[Accepted]\n";
  for (size_t i = 0; i < transferSyntaxes.size(); ++i) {
    config << "TransferSyntax" << i + 1 << " = " << transferSyntaxes[i] << "\n";
  }
  config << "[[PresentationContexts]]\n[Contexts]\n"
         << "PresentationContext1 = 1.2.840.10008.1.1\\Plain\n";
  for (size_t i = 0; i < sopClasses.size(); ++i) {
    config << "PresentationContext" << i + 2 << " = " << sopClasses[i] << "\\Accepted\n";
  }
  config << "[[Profiles]]\n[Test]\nPresentationContexts = Contexts\n";
  config.close();

  port_ = testsupport::FreePort();
  std::vector<std::string> argv = {"storescp", "-xf", (folder_ / "storescp.cfg").string(),
                                   "Test",     "-od", (folder_ / "in").string()};
  argv.insert(argv.end(), extraArguments.begin(), extraArguments.end());
  argv.push_back(std::to_string(port_));
  process_ = std::make_unique<testsupport::ChildProcess>(argv, (folder_ / "storescp.log").string());
  running_ = process_->WaitListening(port_);
}

std::vector<std::filesystem::path> StoreSCP::Received() const {
  std::vector<std::filesystem::path> files;
  for (const auto& entry : std::filesystem::directory_iterator(folder_ / "in")) {
    files.push_back(entry.path());
  }
  return files;
}

std::unique_ptr<DcmObj> NativeImage(const std::string& instanceUid, uint16_t columns,
                                    uint16_t rows) {
  auto image = std::make_unique<DcmObj>();
  image->SetTransferSyntax(kExplicitVRLittleEndian);
  image->AddString(0x0008, 0x0016, "1.2.840.10008.5.1.4.1.1.7");
  image->AddString(0x0008, 0x0018, instanceUid);
  image->AddString(0x0008, 0x0060, "OT");
  image->AddString(0x0010, 0x0010, "PATTERN^TEST");
  image->AddString(0x0010, 0x0020, "PAT-1");
  image->AddString(0x0020, 0x000D, instanceUid + ".1");
  image->AddString(0x0020, 0x000E, instanceUid + ".2");
  image->Add(DcmTag::FromUS(0x0028, 0x0002, 1, "US"));
  image->AddString(0x0028, 0x0004, "MONOCHROME2");
  image->Add(DcmTag::FromUS(0x0028, 0x0010, rows, "US"));
  image->Add(DcmTag::FromUS(0x0028, 0x0011, columns, "US"));
  image->Add(DcmTag::FromUS(0x0028, 0x0100, 8, "US"));
  image->Add(DcmTag::FromUS(0x0028, 0x0101, 8, "US"));
  image->Add(DcmTag::FromUS(0x0028, 0x0102, 7, "US"));
  image->Add(DcmTag::FromUS(0x0028, 0x0103, 0, "US"));
  std::string pixels(static_cast<size_t>(columns) * rows, '\0');
  for (size_t y = 0; y < rows; ++y) {
    for (size_t x = 0; x < columns; ++x) {
      // A smooth ramp with a sharp square: lossy codecs blur the edge, lossless ones must not.
      const bool square = x > columns / 4 && x < columns / 2 && y > rows / 4 && y < rows / 2;
      pixels[y * columns + x] = static_cast<char>(square ? 250 : (x * 3 + y * 2) % 200);
    }
  }
  image->Add(
      DcmTag::FromBytes(0x7FE0, 0x0010, static_cast<uint32_t>(pixels.size()), pixels.data(), "OB"));
  return image;
}

std::string NativePixels(const DcmObj& dataSet) {
  const DcmTag* pixels = dataSet.FindTag(0x7FE0, 0x0010);
  if (pixels == nullptr || pixels->HasUndefinedLength()) return {};
  return std::string(pixels->Bytes());
}

std::string FirstFragment(const DcmObj& dataSet) {
  for (size_t i = 0; i + 2 < dataSet.Count(); ++i) {
    const DcmTag* tag = dataSet.TagAt(i);
    if (tag != nullptr && tag->Is(0x7FE0, 0x0010) && tag->HasUndefinedLength()) {
      const DcmTag* fragment = dataSet.TagAt(i + 2);
      return fragment != nullptr ? std::string(fragment->Bytes()) : std::string();
    }
  }
  return {};
}

}  // namespace dcmtkpeer
