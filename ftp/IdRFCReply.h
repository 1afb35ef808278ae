#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace vantari {

// One numeric reply of a line-oriented text protocol: "220 Ready" or a multi-line
// "220-Welcome" ... "220 Ready". Text holds each line without its first four characters.
class TIdRFCReply {
public:
  int32_t NumericCode() const { return FNumericCode; }
  const std::string &TextCode() const { return FTextCode; }
  // A non-empty value also sets NumericCode (0 when it is not a number).
  void SetTextCode(const std::string &value);
  const std::vector<std::string> &Text() const { return FText; }
  std::vector<std::string> &Text() { return FText; }

  void Clear();
  // Replaces the reply by the one the lines form: the code from the first line (0 unless it
  // begins with exactly three digits), every line from its fifth character on as text.
  void ParseLines(const std::vector<std::string> &lines);

  // The line that ends a reply whose first line is firstLine: "220 " after "220-...",
  // empty when firstLine is a one-line reply.
  static std::string MultiLineTerminator(const std::string &firstLine);
  // Whether line ends the multi-line reply opened with the given terminator.
  static bool EndsMultiLineReply(const std::string &line, const std::string &terminator);

private:
  int32_t FNumericCode = 0;
  std::string FTextCode;
  std::vector<std::string> FText;
};

// Text helpers of the reply readers: trims spaces and control characters at both
// ends; reads a whole text as a decimal 32-bit signed integer (false otherwise).
std::string TrimBlanks(const std::string &text);
bool ParseInt32(const std::string &text, int32_t &value);

} // namespace vantari
