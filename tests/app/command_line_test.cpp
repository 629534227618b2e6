// Trimming the command line to the start-up file.
#include "app/command_line.h"

#include <gtest/gtest.h>

#include <string>

namespace {

TEST(StartupFileTest, QuotesBlanksAndLength) {
  struct Case {
    std::string line;
    std::string file;
  };
  const Case cases[] = {
      {"", ""},
      {"   \t ", ""},
      {"\"D:\\Music\\a b.wav\"", "D:\\Music\\a b.wav"},
      {"  \t\"D:\\Music\\a b.wav\" extra", "D:\\Music\\a b.wav"},
      {"\"D:\\Music\\open.wav", "D:\\Music\\open.wav"},  // no closing quote
      {"D:\\Music\\a.wav  ", "D:\\Music\\a.wav  "},      // unquoted keeps trailing blanks
      {"\t D:\\Music\\a b.wav", "D:\\Music\\a b.wav"},
      {"\"\"", ""},
      {"x\"y\"", "x\"y\""},  // a quote inside an unquoted path stays
      {std::string(259, 'p'), std::string(259, 'p')},
      {std::string(260, 'p'), ""},  // refused, not cut
      {"\"" + std::string(260, 'q') + "\"", ""},
  };
  for (const Case& c : cases) {
    char file[260] = "stale";
    StartupFileFromCommandLine(c.line.c_str(), file, sizeof file);
    EXPECT_EQ(std::string(file), c.file) << "[" << c.line << "]";
  }
  char file[8] = "stale";
  StartupFileFromCommandLine(nullptr, file, sizeof file);
  EXPECT_EQ(std::string(file), "");
}

}  // namespace
