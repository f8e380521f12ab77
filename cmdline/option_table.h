// SPDX-License-Identifier: Apache-2.0
#pragma once

// The small machinery behind both programs' command lines: each option is one
// row (its name, the name of its value, its help text and how it is applied
// and checked), and the parser, --help, the manual-page test and the fuzz
// dictionary all read the rows. Each program keeps its own rules for where
// options stand; the rows are what they share.

#include <cstddef>
#include <span>
#include <string>
#include <string_view>

namespace platform {

template <class Target>
struct Option {
  std::string_view name;   // "--format"
  std::string_view alias;  // "-h", or empty
  std::string_view hint;   // the value's name in the help ("F"); empty for a flag
  std::string_view help;   // its lines, '\n' between them
  // Applies the option (the value is empty for a flag); false with a
  // one-line reason in *error.
  bool (*apply)(Target& target, std::string_view value, std::string* error);
};

// The row named `word` (by name or alias), or nullptr.
template <class Target>
const Option<Target>* findOption(std::span<const Option<Target>> table, std::string_view word) {
  for (const Option<Target>& o : table)
    if (word == o.name || (!o.alias.empty() && word == o.alias)) return &o;
  return nullptr;
}

// The help lines of a table: "  --format F       text", continuation lines
// under the text, the text starting at `column`.
template <class Target>
std::string optionHelp(std::span<const Option<Target>> table, std::size_t column = 19) {
  std::string out;
  for (const Option<Target>& o : table) {
    std::string head = "  ";
    if (!o.alias.empty()) {
      head += o.alias;
      head += ", ";
    }
    head += o.name;
    if (!o.hint.empty()) {
      head += ' ';
      head += o.hint;
    }
    out += head;
    out.append(head.size() + 1 > column ? 1 : column - head.size(), ' ');
    for (const char c : o.help) {
      out.push_back(c);
      if (c == '\n') out.append(column, ' ');
    }
    out.push_back('\n');
  }
  return out;
}

}  // namespace platform
