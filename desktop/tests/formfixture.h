// A main window in a temporary application folder, with scripted dialogs.
#pragma once

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QThread>
#include <chrono>
#include <cstdlib>
#include <functional>
#include <memory>

#include "appfolders.h"
#include "conversioncontext.h"
#include "mainform.h"
#include "scripteddialogs.h"
#include "settings.h"
#include "stripview.h"
#include "testsupport.h"

// Processes events until `done` holds or the time runs out; true when it held.
inline bool WaitFor(const std::function<bool()>& done,
                    std::chrono::milliseconds timeout = std::chrono::seconds(120)) {
  const auto end = std::chrono::steady_clock::now() + timeout;
  while (!done()) {
    if (std::chrono::steady_clock::now() > end) return false;
    QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    QThread::msleep(5);
  }
  return true;
}

// Where the preview shows its picture once the picture asked for last is decoded (empty: a note
// or nothing).
inline QRect ShownPreview(TForm1& form) {
  WaitFor([&form] { return !form.PreviewPending(); }, std::chrono::seconds(60));
  return form.Image2->PictureRect();
}

class FormTest : public ::testing::Test {
 protected:
  void SetUp() override {
    setupcfg = SetupConfig{};
    CurrentStudy = StudyInfo{};
    // Each window gets a data folder, and so an outbox, of its own: what one test leaves waiting
    // never reaches another, nor the outbox of the user running the tests.
    ::setenv("XDG_DATA_HOME", data_.path().c_str(), 1);
  }

  // Creates the window; `ini` becomes velloran.ini beside the "executable" first.
  TForm1& Form(const std::string& ini = "") {
    if (!ini.empty()) testsupport::WriteFile(app_ / "velloran.ini", ini);
    form_ = std::make_unique<TForm1>(ResolveAppFolders(app_.path()), dialogs_);
    form_->DeferredStart();
    return *form_;
  }

  std::string Write(const std::string& name, const std::string& bytes) {
    const auto path = files_ / name;
    std::filesystem::create_directories(path.parent_path());
    testsupport::WriteFile(path, bytes);
    return path.string();
  }

  void TearDown() override {
    if (form_) {
      WaitFor([this] { return !form_->BatchRunning(); });
      form_.reset();
    }
    ::unsetenv("XDG_DATA_HOME");
  }

  testsupport::TempDir data_;
  testsupport::TempDir app_;
  testsupport::TempDir files_;
  ScriptedDialogs dialogs_;
  std::unique_ptr<TForm1> form_;
};
