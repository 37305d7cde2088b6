#include "common/command_line.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "common/messages.h"

namespace {

struct Parsed {
  bool ok;
  CommandLine line;
  std::string err;
};

Parsed parse(std::vector<const char*> args, CommandLineRules rules) {
  args.insert(args.begin(), "/usr/bin/whatever");
  set_program_name("Zarnik");
  Parsed parsed{};
  testing::internal::CaptureStderr();
  parsed.ok = parsed.line.parse(static_cast<int>(args.size()), args.data(), rules);
  parsed.err = testing::internal::GetCapturedStderr();
  return parsed;
}

TEST(CommandLine, AnyArgumentStartingWithMinusOIsTheOutputOption) {
  for (const char* option : {"-o", "-out", "-ox"}) {
    const Parsed p = parse({option, "out.wav", "song.txt"}, CommandLineRules::Player);
    ASSERT_TRUE(p.ok) << option;
    EXPECT_STREQ(p.line.input_path, "song.txt");
    EXPECT_STREQ(p.line.output_path, "out.wav");
    EXPECT_EQ(p.err, "");
  }
}

TEST(CommandLine, WhateverFollowsTheOptionIsTheOutputName) {
  Parsed p = parse({"-o", "-x", "song.txt"}, CommandLineRules::Player);
  ASSERT_TRUE(p.ok);
  EXPECT_STREQ(p.line.output_path, "-x");
  p = parse({"song.txt", "-o", ""}, CommandLineRules::Player);
  ASSERT_TRUE(p.ok);
  EXPECT_STREQ(p.line.output_path, "");
}

TEST(CommandLine, ThePlayerNeedsNoOutputButTheConverterDoes) {
  Parsed p = parse({"song.txt"}, CommandLineRules::Player);
  EXPECT_TRUE(p.ok);
  EXPECT_EQ(p.line.output_path, nullptr);
  p = parse({"song.txt"}, CommandLineRules::Converter);
  EXPECT_FALSE(p.ok);
  EXPECT_EQ(p.err, "Zarnik: No output file provided\n");
}

TEST(CommandLine, TheFirstFailureEndsTheScanWithItsOwnMessage) {
  struct Case {
    std::vector<const char*> args;
    CommandLineRules rules;
    std::string err;
  };
  const Case cases[] = {
      {{}, CommandLineRules::Player, "No input file provided\n"},
      {{"-o", "out.bin"}, CommandLineRules::Converter, "No input file provided\n"},
      {{"-"}, CommandLineRules::Player, "Unknown option [-]\n"},
      {{"--o", "x"}, CommandLineRules::Player, "Unknown option [--o]\n"},
      {{"-x", "-y"}, CommandLineRules::Player, "Unknown option [-x]\n"},
      {{"a", "-o"},
       CommandLineRules::Player,
       "-o must be followed by the output filename.\n"},
      {{"a", "-o", "b", "-o"},
       CommandLineRules::Player,
       "-o must be followed by the output filename.\n"},
      {{"a", "-o", "b", "-o", "c"},
       CommandLineRules::Player,
       "Only one output file allowed.\n"},
      {{"a", "b", "-x"}, CommandLineRules::Player, "Only one input file allowed.\n"},
      {{"a", ""}, CommandLineRules::Player, "Only one input file allowed.\n"},
  };
  for (const Case& c : cases) {
    const Parsed p = parse(c.args, c.rules);
    EXPECT_FALSE(p.ok);
    EXPECT_EQ(p.err, "Zarnik: " + c.err);
  }
}

TEST(CommandLine, AnEmptyArgumentIsAnInput) {
  const Parsed p = parse({""}, CommandLineRules::Player);
  ASSERT_TRUE(p.ok);
  EXPECT_STREQ(p.line.input_path, "");
}

}  // namespace
