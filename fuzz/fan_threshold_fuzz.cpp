// Fuzz target for the fan loops' threshold file: the input is what the chassis fan
// loop finds in its threshold file under a temporary chassis root. The threshold read
// must be the file's own number or the default, and a threshold stored must read back
// as itself.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <string_view>

#include "hardware/fans.h"
#include "platform/paths.h"
#include "platform/test_support.h"

namespace {

void Fail(const char* what) {
  std::fprintf(stderr, "fan_threshold: %s\n", what);
  std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static platform::TempFolder root;
  static platform::ScopedEnv env("CHASSIS_ROOT", root.path().c_str());
  const std::string_view input(reinterpret_cast<const char*>(data), size);
  const std::string path = platform::ResolvePath(kFanThresholdFile);
  std::filesystem::create_directories(std::filesystem::path(path).parent_path());
  if (FILE* file = std::fopen(path.c_str(), "wb")) {
    std::fwrite(data, 1, size, file);
    std::fclose(file);
  }
  const int32_t threshold = FanTempThreshold();
  if (threshold != ParseFanThreshold(input, kDefaultFanThreshold)) Fail("read differs from parse");
  if (threshold > 9999999 || threshold < -999999) Fail("more than seven characters were read");
  if (threshold != kDefaultFanThreshold &&
      input.substr(0, 7).find(std::to_string(threshold < 0 ? -threshold : threshold)) ==
          std::string_view::npos) {
    Fail("a threshold that is not in the file's first seven characters");
  }
  if (SetFanTempThreshold(threshold) != 0) Fail("a threshold read could not be stored");
  if (FanTempThreshold() != threshold) Fail("a stored threshold reads back changed");
  return 0;
}
