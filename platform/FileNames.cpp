#include "FileSystem.h"

#include <algorithm>
#include <vector>

namespace vantari {

namespace {

char LowerAscii(char c) {
  return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

bool GlobMatch(const char *name, const char *mask) {
  const char *starMask = nullptr;
  const char *starName = nullptr;
  while (*name) {
    if (*mask == '*') {
      starMask = ++mask;
      starName = name;
    } else if (*mask == '?' || (*mask && LowerAscii(*mask) == LowerAscii(*name))) {
      ++mask;
      ++name;
    } else if (starMask) {
      mask = starMask;
      name = ++starName;
    } else {
      return false;
    }
  }
  while (*mask == '*')
    ++mask;
  return *mask == '\0';
}

// Windows takes '\\' and '/' alike; the program itself writes '/'.
bool IsDelimiter(char c) {
#ifdef _WIN32
  return c == '/' || c == '\\';
#else
  return c == '/';
#endif
}

size_t LastDelimiter(const std::string &path) {
  for (size_t i = path.size(); i > 0; --i)
    if (IsDelimiter(path[i - 1]))
      return i - 1;
  return std::string::npos;
}

bool IsAbsolute(const std::string &path) {
#ifdef _WIN32
  if (path.size() >= 2 && path[1] == ':')
    return true;
#endif
  return !path.empty() && IsDelimiter(path[0]);
}

} // namespace

bool MatchesMask(const std::string &name, const std::string &mask) {
  if (GlobMatch(name.c_str(), mask.c_str()))
    return true;
  // A name without extension has an empty one: "name.*", "*.*" and "*." match it.
  return name.find('.') == std::string::npos && GlobMatch((name + ".").c_str(), mask.c_str());
}

std::string ExtractFileName(const std::string &path) {
  const size_t slash = LastDelimiter(path);
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

std::string ExtractFilePath(const std::string &path) {
  const size_t slash = LastDelimiter(path);
  return slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
}

std::string ExtractFileDir(const std::string &path) {
  const size_t slash = LastDelimiter(path);
  if (slash == std::string::npos)
    return std::string();
  return slash == 0 ? std::string("/") : path.substr(0, slash);
}

std::string ExtractFileExt(const std::string &path) {
  const size_t slash = LastDelimiter(path);
  const size_t dot = path.rfind('.');
  if (dot == std::string::npos || (slash != std::string::npos && dot < slash))
    return std::string();
  return path.substr(dot);
}

std::string ChangeFileExt(const std::string &path, const std::string &ext) {
  const std::string current = ExtractFileExt(path);
  return path.substr(0, path.size() - current.size()) + ext;
}

std::string IncludeTrailingPathDelimiter(const std::string &path) {
  return (!path.empty() && IsDelimiter(path.back())) ? path : path + "/";
}

std::string ExpandFileName(const std::string &path) {
  std::string full = IsAbsolute(path) ? path : GetCurrentDir() + "/" + path;
  for (char &c : full)
    if (IsDelimiter(c))
      c = '/';
  std::string root = "/";
  if (full.size() >= 2 && full[1] == ':') { // a drive: "C:/..."
    root = full.substr(0, 2) + "/";
    full.erase(0, 2);
  }
  std::vector<std::string> parts;
  size_t start = 0;
  while (start <= full.size()) {
    size_t end = full.find('/', start);
    if (end == std::string::npos)
      end = full.size();
    const std::string part = full.substr(start, end - start);
    if (part == "..") {
      if (!parts.empty())
        parts.pop_back();
    } else if (!part.empty() && part != ".") {
      parts.push_back(part);
    }
    start = end + 1;
  }
  std::string out = root;
  for (const auto &part : parts)
    out += part + "/";
  if (!parts.empty() && !(full.size() > 1 && full.back() == '/'))
    out.pop_back();
  return out;
}

void SortByName(std::vector<TSearchRec> &found) {
  // Not the system's collation: an archive's member order must not depend on where it was made.
  const auto lower = [](std::string s) {
    std::transform(s.begin(), s.end(), s.begin(), LowerAscii);
    return s;
  };
  std::sort(found.begin(), found.end(), [&](const TSearchRec &a, const TSearchRec &b) {
    const std::string la = lower(a.Name), lb = lower(b.Name);
    return la != lb ? la < lb : a.Name < b.Name;
  });
}

} // namespace vantari
