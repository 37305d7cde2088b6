// A fixture for running one of the built programs in a fresh folder.
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/support/process.h"
#include "tests/support/temp_dir.h"

class ProgramTest : public testing::Test {
 protected:
  explicit ProgramTest(std::string program) : program_(std::move(program)) {}

  // Runs the program in the test's folder; a file_size_limit of 0 or more
  // makes writes past that size fall short, as on a full disk.
  ProcessResult run(const std::vector<std::string>& args, long file_size_limit = -1) {
    ProcessOptions options = in_dir();
    options.file_size_limit = file_size_limit;
    return run_program(program_, args, options);
  }
  ProcessOptions in_dir() const {
    ProcessOptions options;
    options.working_directory = dir_.path();
    return options;
  }
  // Writes a log into the test's folder and returns its full path.
  std::string write_log(const std::string& name, const std::string& text) {
    write_file(dir_.file(name), text);
    return dir_.file(name);
  }

  TempDir dir_;

 private:
  std::string program_;
};
