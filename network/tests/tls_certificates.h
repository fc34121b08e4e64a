// Test certificates for the TLS client tests.
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "testsupport.h"

// A CA, a server certificate for 127.0.0.1 signed by it, and an unrelated second CA, made with
// the openssl tool.
class TlsCertificates : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(testsupport::HaveProgram("openssl"))
        << "openssl is not installed (scripts/setup.sh installs it)";
    const std::string dir = folder_.path().string();
    auto run = [](const std::vector<std::string>& argv) {
      const testsupport::CommandResult result = testsupport::RunCommand(argv);
      ASSERT_EQ(result.exitCode, 0) << result.errors;
    };
    for (const char* ca : {"ca", "otherca"}) {
      run({"openssl", "req", "-x509", "-newkey", "rsa:2048", "-nodes", "-days", "2", "-subj",
           std::string("/CN=") + ca, "-keyout", dir + "/" + ca + ".key", "-out",
           dir + "/" + ca + ".pem"});
    }
    run({"openssl", "req", "-newkey", "rsa:2048", "-nodes", "-subj", "/CN=127.0.0.1", "-keyout",
         dir + "/server.key", "-out", dir + "/server.csr"});
    testsupport::WriteFile(folder_ / "san.ext", "subjectAltName=IP:127.0.0.1\n");
    run({"openssl", "x509", "-req", "-in", dir + "/server.csr", "-CA", dir + "/ca.pem", "-CAkey",
         dir + "/ca.key", "-CAcreateserial", "-days", "2", "-extfile", dir + "/san.ext", "-out",
         dir + "/server.pem"});
  }

  std::string File(const char* name) const { return (folder_ / name).string(); }

  testsupport::TempDir folder_;
};
