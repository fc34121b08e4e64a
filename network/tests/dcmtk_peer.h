// Real DCMTK peers for integration tests: a storescp on a free loopback port that accepts the
// transfer syntaxes a test names, and helpers for the objects the tests send it.
#pragma once

#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "dcmobj.h"
#include "testsupport.h"

namespace dcmtkpeer {

// A storescp accepting Verification (Implicit VR Little Endian) and, for each SOP class given,
// exactly the transfer syntaxes given. Received objects land in `folder`. Extra arguments (TLS)
// go before the port.
class StoreSCP {
 public:
  StoreSCP(const std::filesystem::path& folder, const std::vector<std::string>& sopClasses,
           const std::vector<std::string>& transferSyntaxes,
           const std::vector<std::string>& extraArguments = {});
  bool Running() const { return running_; }
  std::string Port() const { return std::to_string(port_); }
  // The files received so far.
  std::vector<std::filesystem::path> Received() const;

 private:
  std::filesystem::path folder_;
  int port_ = 0;
  bool running_ = false;
  std::unique_ptr<testsupport::ChildProcess> process_;
};

// An 8-bit MONOCHROME2 Secondary Capture image of `columns` x `rows` with a pattern that every
// codec has to keep exactly, in Explicit VR Little Endian.
std::unique_ptr<DcmObj> NativeImage(const std::string& instanceUid, uint16_t columns,
                                    uint16_t rows);
// The native pixel bytes of a data set, empty when its pixel data are encapsulated.
std::string NativePixels(const DcmObj& dataSet);
// The first fragment of encapsulated pixel data, empty when there is none.
std::string FirstFragment(const DcmObj& dataSet);

}  // namespace dcmtkpeer
