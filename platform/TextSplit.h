#pragma once

#include <string>
#include <vector>

namespace vantari {

// The pieces of text between separators, in order; empty pieces are kept (a reader skips what
// it cannot parse), and an empty text has none.
inline std::vector<std::string> SplitText(const std::string &text, char separator) {
  std::vector<std::string> pieces;
  size_t start = 0;
  while (start < text.size()) {
    size_t end = text.find(separator, start);
    if (end == std::string::npos)
      end = text.size();
    pieces.push_back(text.substr(start, end - start));
    start = end + 1;
  }
  return pieces;
}

} // namespace vantari
