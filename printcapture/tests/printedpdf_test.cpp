// A printed job's PDF, as the capture makes it, becomes an Encapsulated PDF object valid for its
// IOD.
#include <gtest/gtest.h>

#include "batch.h"
#include "convertpdf.h"
#include "pdfconversion.h"
#include "testsupport.h"

namespace {

TEST(PrintedPdf, APrintedJobBecomesAnEncapsulatedPdfValidForItsIod) {
  for (const char* tool : {"ps2pdf", "dciodvfy"}) {
    ASSERT_TRUE(testsupport::HaveProgram(tool)) << tool << " missing (scripts/setup.sh)";
  }
  testsupport::TempDir work;
  const auto job = work / "job.ps";
  testsupport::WriteFile(job,
                         "%!PS\n/Helvetica findfont 20 scalefont setfont\n"
                         "72 700 moveto (Discharge letter) show\nshowpage\n");
  const auto printed = work / "Letter_101500_1.pdf";
  std::string cause;
  ASSERT_TRUE(ConvertPostScriptToPdf(job, printed, cause)) << cause;

  BatchForm form;
  form.patientName = "Roe^Rick";
  form.patientId = "P7";
  form.studyDate = "20260102";
  form.modalityText = "CT";
  std::string message;
  ASSERT_TRUE(PrepareBatch(form, nullptr, 1, SetupConfig{}, message)) << message;
  DataSetList list;
  std::string error;
  ASSERT_TRUE(ConvertPDF(printed.string(), list, error)) << error;
  const std::string object = (work / "printed.dcm").string();
  ASSERT_TRUE(SaveObjectFile(*list[0], object));
  EXPECT_EQ(testsupport::DciodvfyErrors(object), std::vector<std::string>{});
}

}  // namespace
