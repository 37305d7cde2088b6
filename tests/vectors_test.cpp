// Reference logs with the digests of the WAV files a correct render writes and
// the exact binary logs the converter writes.
#include <gtest/gtest.h>

#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "tests/support/process.h"
#include "tests/support/sha256.h"
#include "tests/support/temp_dir.h"

namespace {

struct Vector {
  std::string name;
  std::string sha256;
  size_t size;
};

// Names the vector in test output instead of dumping its bytes.
void PrintTo(const Vector& v, std::ostream* out) {
  *out << v.name;
}

std::vector<Vector> load_vectors() {
  std::vector<Vector> vectors;
  std::ifstream in(std::string(VECTORS_DIR) + "/expected.txt");
  std::string line;
  while (std::getline(in, line)) {
    if (line.empty() || line[0] == '#') continue;
    std::istringstream fields(line);
    Vector v;
    fields >> v.sha256 >> v.size >> v.name;
    vectors.push_back(v);
  }
  return vectors;
}

class ReferenceVector : public testing::TestWithParam<Vector> {
 protected:
  std::string source(const std::string& extension) const {
    return std::string(VECTORS_DIR) + "/" + GetParam().name + extension;
  }
  TempDir dir_;
};

TEST_P(ReferenceVector, TextLogRendersToTheReferenceFile) {
  const std::string wav = dir_.file("out.wav");
  const ProcessResult r = run_program(ZARNIK_EXE, {source(".txt"), "-o", wav});
  ASSERT_EQ(r.exit_code, 0) << r.err;
  const std::string bytes = read_file(wav);
  EXPECT_EQ(bytes.size(), GetParam().size);
  EXPECT_EQ(sha256_hex(bytes), GetParam().sha256);
}

TEST_P(ReferenceVector, BinaryLogRendersToTheSameFile) {
  const std::string wav = dir_.file("out.wav");
  const ProcessResult r = run_program(ZARNIK_EXE, {source(".bin"), "-o", wav});
  ASSERT_EQ(r.exit_code, 0) << r.err;
  EXPECT_EQ(sha256_hex(read_file(wav)), GetParam().sha256);
}

TEST_P(ReferenceVector, ConverterWritesTheReferenceBinaryLog) {
  const std::string bin = dir_.file("out.bin");
  const ProcessResult r = run_program(TUBREL_EXE, {source(".txt"), "-o", bin});
  ASSERT_EQ(r.exit_code, 0) << r.err;
  EXPECT_EQ(read_file(bin), read_file(source(".bin")));
}

INSTANTIATE_TEST_SUITE_P(All, ReferenceVector, testing::ValuesIn(load_vectors()),
                         [](const testing::TestParamInfo<Vector>& info) {
                           std::string name = info.param.name;
                           for (char& c : name) {
                             if (c == '-') c = '_';
                           }
                           return name;
                         });

TEST(ReferenceVectors, AllTwelveAreListed) {
  if (std::string(VECTORS_DIR).empty()) GTEST_SKIP() << "no shared test data";
  EXPECT_EQ(load_vectors().size(), 12u);
}

}  // namespace
