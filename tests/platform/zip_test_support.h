// An archive reader and writer that owe nothing to our zip component:
// Python's zipfile, run as a child process. Archives the component writes
// are read back with it, and test archives (malicious names included) are
// written with it.
#ifndef KX8_TESTS_PLATFORM_ZIP_TEST_SUPPORT_H_
#define KX8_TESTS_PLATFORM_ZIP_TEST_SUPPORT_H_

#include <sys/wait.h>

#include <cstdint>
#include <cstdio>
#include <sstream>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

namespace kx8::platform::test_support {

inline std::string Hex(const std::string& bytes) {
  static const char digits[] = "0123456789abcdef";
  std::string out;
  for (unsigned char c : bytes) {
    out += digits[c >> 4];
    out += digits[c & 15];
  }
  return out;
}

inline std::string Unhex(const std::string& hex) {
  std::string out;
  for (std::size_t i = 0; i + 1 < hex.size(); i += 2)
    out += static_cast<char>(std::stoi(hex.substr(i, 2), nullptr, 16));
  return out;
}

inline std::string ShellQuote(const std::string& text) {
  std::string out = "'";
  for (char c : text) {
    if (c == '\'') {
      out += "'\\''";
    } else {
      out += c;
    }
  }
  return out + "'";
}

// Runs python3 with a script and arguments; its standard output.
inline std::string RunPython(const std::string& script, const std::vector<std::string>& arguments) {
  std::string command = "python3 -c " + ShellQuote(script);
  for (const std::string& a : arguments) command += " " + ShellQuote(a);
  command += " 2>&1";
  FILE* pipe = ::popen(command.c_str(), "r");
  if (pipe == nullptr) throw std::runtime_error("cannot start python3");
  std::string output;
  char buffer[4096];
  while (std::size_t n = std::fread(buffer, 1, sizeof buffer, pipe)) output.append(buffer, n);
  const int status = ::pclose(pipe);
  if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
    throw std::runtime_error("python3 failed (is it installed?): " + output);
  }
  return output;
}

struct PyEntry {
  std::string name;
  std::uint64_t size;
  int method;  // 0 stored, 8 deflated
  std::string data;
};

struct PyListing {
  std::string verdict;  // "OK", "BAD <first damaged entry>" or "ERROR <text>"
  std::vector<PyEntry> entries;
};

// Opens the archive with zipfile, tests every entry's CRC (testzip) and
// lists the entries with their data.
inline PyListing ReadWithPython(const std::string& archive) {
  static const char script[] = R"(
import sys, zipfile
try:
    with zipfile.ZipFile(sys.argv[1]) as z:
        bad = z.testzip()
        print('OK' if bad is None else 'BAD ' + bad)
        if bad is None:
            for i in z.infolist():
                print(i.filename.encode().hex() or '-', i.file_size, i.compress_type, z.read(i).hex() or '-')
except Exception as e:
    print('ERROR', e)
)";
  std::istringstream lines(RunPython(script, {archive}));
  PyListing listing;
  std::getline(lines, listing.verdict);
  std::string name, data;
  std::uint64_t size = 0;
  int method = 0;
  while (lines >> name >> size >> method >> data) {
    listing.entries.push_back(
        {name == "-" ? std::string() : Unhex(name), size, method, data == "-" ? std::string() : Unhex(data)});
  }
  return listing;
}

// Writes an archive with zipfile: (name, data) pairs, names as given, dated
// 17 September 2009 22:05:08; deflated unless `stored`.
inline void WriteWithPython(const std::string& archive, const std::vector<std::pair<std::string, std::string>>& entries,
                            bool stored = false) {
  static const char script[] = R"(
import sys, zipfile
method = zipfile.ZIP_STORED if sys.argv[2] == 'stored' else zipfile.ZIP_DEFLATED
with zipfile.ZipFile(sys.argv[1], 'w', method) as z:
    args = sys.argv[3:]
    for k in range(0, len(args), 2):
        info = zipfile.ZipInfo(bytes.fromhex(args[k]).decode(), (2009, 9, 17, 22, 5, 8))
        info.compress_type = method
        z.writestr(info, bytes.fromhex(args[k + 1]))
)";
  std::vector<std::string> arguments = {archive, stored ? "stored" : "deflated"};
  for (const auto& [name, data] : entries) {
    arguments.push_back(Hex(name));
    arguments.push_back(Hex(data));
  }
  RunPython(script, arguments);
}

}  // namespace kx8::platform::test_support

#endif  // KX8_TESTS_PLATFORM_ZIP_TEST_SUPPORT_H_
