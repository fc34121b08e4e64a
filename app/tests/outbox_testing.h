// What the outbox tests share: an opened outbox in a test folder and a batch prepared for one
// patient.
#pragma once

#include <gtest/gtest.h>

#include <string>

#include "outbox.h"
#include "send.h"
#include "testsupport.h"

namespace outboxtesting {

inline Outbox OpenedOutbox(const testsupport::TempDir& dir) {
  Outbox outbox(dir / "outbox");
  std::string error;
  EXPECT_TRUE(outbox.Open(error)) << error;
  return outbox;
}

// Numbers the next batch of `items` items for Roe^Rick, as Send does before converting.
inline ::testing::AssertionResult PrepareRoeBatch(size_t items) {
  BatchForm form;
  form.patientName = "Roe^Rick";
  form.patientId = "PID24";
  form.modalityText = "XC";
  std::string message;
  if (PrepareBatch(form, nullptr, items, SetupConfig{}, message)) {
    return ::testing::AssertionSuccess();
  }
  return ::testing::AssertionFailure() << message;
}

}  // namespace outboxtesting
