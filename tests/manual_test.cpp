// SPDX-License-Identifier: Apache-2.0
// The manual pages are kept by hand: every option that --help lists must
// appear in the page of its program.

#include <gtest/gtest.h>

#include <fstream>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "app/cli.h"
#include "sim/options.h"

namespace {

// The page's text with roff's escaped hyphens made plain.
std::string pageText(const std::string& name) {
  std::ifstream in(std::string(LMSVIEW_MAN_DIR) + "/" + name);
  std::stringstream ss;
  ss << in.rdbuf();
  std::string text = ss.str();
  for (std::size_t at = text.find("\\-"); at != std::string::npos; at = text.find("\\-", at))
    text.erase(at, 1);
  return text;
}

bool optionChar(char c) {
  return (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-';
}

// Words like -h or --max-seconds that start after a space, a '|' or a '['.
std::set<std::string> optionsIn(const std::string& help) {
  std::set<std::string> found;
  for (std::size_t i = 0; i + 1 < help.size(); ++i) {
    const bool starts = help[i] == '-' && (i == 0 || help[i - 1] == ' ' || help[i - 1] == '\n' ||
                                           help[i - 1] == '|' || help[i - 1] == '[');
    if (!starts) continue;
    std::size_t end = i + 1;
    while (end < help.size() && optionChar(help[end])) ++end;
    const std::string word = help.substr(i, end - i);
    if (word.size() >= 2 && word.back() != '-' && word.find_first_not_of('-') != std::string::npos)
      found.insert(word);
    i = end;
  }
  return found;
}

// `option` stands in `text` as a word of its own.
bool hasWord(const std::string& text, const std::string& option) {
  for (std::size_t at = text.find(option); at != std::string::npos; at = text.find(option, at + 1)) {
    const bool before = at == 0 || !optionChar(text[at - 1]);
    const bool after = at + option.size() >= text.size() || !optionChar(text[at + option.size()]);
    if (before && after) return true;
  }
  return false;
}

// Every option of the table is in --help and in the manual page.
void expectEveryOptionIn(const std::vector<std::string_view>& table, const std::string& help,
                         const std::string& page) {
  const std::string text = pageText(page);
  ASSERT_FALSE(text.empty()) << page << " is missing";
  const auto listed = optionsIn(help);
  for (const std::string_view name : table) {
    const std::string o(name);
    EXPECT_TRUE(listed.count(o)) << o << " is not in --help";
    EXPECT_TRUE(hasWord(text, o)) << o << " is not in " << page;
  }
}

TEST(ManualPages, NameEveryOptionOfTheTable) {
  expectEveryOptionIn(app::optionNames(), app::usageText(), "lmsview.1");
  expectEveryOptionIn(sim::simOptionNames(), sim::simUsage(), "lmssim.1");
}

}  // namespace
