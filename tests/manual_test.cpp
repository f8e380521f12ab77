// The manual pages are kept by hand: every option that --help lists must
// appear in the page of its program.

#include <gtest/gtest.h>

#include <fstream>
#include <regex>
#include <set>
#include <sstream>
#include <string>

#include "app/cli.h"
#include "sim/options.h"

namespace {

// The page's text with roff's escaped hyphens made plain.
std::string pageText(const std::string& name) {
  std::ifstream in(std::string(LMS_MAN_DIR) + "/" + name);
  std::stringstream ss;
  ss << in.rdbuf();
  std::string text = ss.str();
  for (std::size_t at = text.find("\\-"); at != std::string::npos; at = text.find("\\-", at))
    text.erase(at, 1);
  return text;
}

std::set<std::string> optionsIn(const std::string& help) {
  std::set<std::string> found;
  const std::regex option(R"((^|[\s|\[])(--?[a-z][a-z-]*))");
  for (auto it = std::sregex_iterator(help.begin(), help.end(), option); it != std::sregex_iterator(); ++it)
    found.insert((*it)[2]);
  return found;
}

void expectEveryOptionIn(const std::string& help, const std::string& page, std::size_t atLeast) {
  const std::string text = pageText(page);
  ASSERT_FALSE(text.empty()) << page << " is missing";
  const auto options = optionsIn(help);
  EXPECT_GE(options.size(), atLeast);
  for (const std::string& o : options) {
    const std::regex word("(^|[^a-z-])" + o + "($|[^a-z-])");
    EXPECT_TRUE(std::regex_search(text, word)) << o << " is not in " << page;
  }
}

TEST(ManualPages, NameEveryOptionThatHelpLists) {
  expectEveryOptionIn(app::usageText(), "lmsview.1", 2);
  expectEveryOptionIn(sim::simUsage(), "lmssim.1", 30);
}

}  // namespace
