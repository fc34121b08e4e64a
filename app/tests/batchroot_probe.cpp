// Prints the batch UID root one batch of a patient gets, the way the window and velloran-cli
// prepare it: batchroot_probe PATIENT_ID ACCESSION. Exits 1, with the message, when the batch
// must not run. The batch UID tests run it as other users and other processes.
#include <cstdio>
#include <string>

#include "batch.h"
#include "conversioncontext.h"

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fputs("usage: batchroot_probe PATIENT_ID ACCESSION\n", stderr);
    return 2;
  }
  BatchForm form;
  form.patientName = "Probe^Patient";
  form.patientId = argv[1];
  form.accessionNumber = argv[2];
  form.studyDate = "20240102";
  std::string message;
  if (!PrepareBatch(form, nullptr, 1, SetupConfig{}, message)) {
    std::fprintf(stderr, "%s\n", message.c_str());
    return 1;
  }
  std::printf("%s\n", BatchUIDRoot.c_str());
  return 0;
}
