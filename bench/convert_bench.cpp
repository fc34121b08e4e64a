// Times the image converter on the photos given: decode, re-encode at quality 90, build the object.
#include <chrono>
#include <cstdio>
#include <string>
#include <vector>

#include "convertimage.h"

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: convert_bench PHOTO.jpg...\n");
    return 2;
  }
  BatchUIDRoot = "1.2.3";
  CurrentStudy.modality = "OT";
  double total = 0;
  for (int i = 1; i < argc; ++i) {
    DataSetList list;
    std::string error;
    const auto start = std::chrono::steady_clock::now();
    const bool converted = ConvertImage(argv[i], list, error);
    const std::chrono::duration<double, std::milli> elapsed =
        std::chrono::steady_clock::now() - start;
    if (!converted) {
      std::fprintf(stderr, "%s\n", error.c_str());
      return 1;
    }
    total += elapsed.count();
    std::printf("%s %.1f ms\n", argv[i], elapsed.count());
  }
  std::printf("mean %.1f ms per photo over %d photos\n", total / (argc - 1), argc - 1);
  return 0;
}
