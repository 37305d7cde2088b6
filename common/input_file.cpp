#include "common/input_file.h"

namespace {

class StdioInputFiles final : public InputFiles {
 public:
  FILE* open(const char* path) override { return std::fopen(path, "rb"); }
};

}  // namespace

InputFiles& stdio_input_files() {
  static StdioInputFiles files;
  return files;
}
