// The README quotes the consumer example in full; the install test compiles
// and runs that file, so the quoted copy must be the same text.

#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <string>

namespace dravo::tool {
namespace {

std::string readSource(std::string const& relative) {
  std::ifstream in(std::string(MEDIA_SOURCE_DIR) + "/" + relative, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

TEST(ReadmeExampleTest, ReadmeQuotesTheConsumerExampleVerbatim) {
  std::string const example = readSource("examples/record_synthetic/record_synthetic.cc");
  ASSERT_FALSE(example.empty());
  EXPECT_NE(std::string::npos, readSource("README.md").find("```cpp\n" + example + "```\n"));
}

}  // namespace
}  // namespace dravo::tool
