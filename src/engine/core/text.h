// Small text routines of the engine: ASCII case folding and splitting.
#ifndef KX8_ENGINE_CORE_TEXT_H_
#define KX8_ENGINE_CORE_TEXT_H_

#include <string>
#include <string_view>
#include <vector>

namespace dbe {

inline char AsciiUpper(char c) { return (c >= 'a' && c <= 'z') ? char(c - 32) : c; }
inline char AsciiLower(char c) { return (c >= 'A' && c <= 'Z') ? char(c + 32) : c; }

inline bool EqualsIgnoreCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    if (AsciiUpper(a[i]) != AsciiUpper(b[i])) return false;
  }
  return true;
}

inline std::string Upper(std::string_view s) {
  std::string r(s);
  for (char& c : r) c = AsciiUpper(c);
  return r;
}
inline std::string Lower(std::string_view s) {
  std::string r(s);
  for (char& c : r) c = AsciiLower(c);
  return r;
}

inline std::string_view Trim(std::string_view s) {
  while (!s.empty() && (s.front() == ' ' || s.front() == '\t' || s.front() == '\r' || s.front() == '\n')) s.remove_prefix(1);
  while (!s.empty() && (s.back() == ' ' || s.back() == '\t' || s.back() == '\r' || s.back() == '\n')) s.remove_suffix(1);
  return s;
}

inline std::string_view TrimRightBlanks(std::string_view s) {
  while (!s.empty() && s.back() == ' ') s.remove_suffix(1);
  return s;
}

inline std::vector<std::string_view> Split(std::string_view s, char sep) {
  std::vector<std::string_view> out;
  size_t start = 0;
  for (;;) {
    size_t p = s.find(sep, start);
    if (p == std::string_view::npos) {
      out.push_back(s.substr(start));
      return out;
    }
    out.push_back(s.substr(start, p - start));
    start = p + 1;
  }
}

}  // namespace dbe

#endif  // KX8_ENGINE_CORE_TEXT_H_
