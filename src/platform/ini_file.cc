#include "platform/ini_file.h"

#include <fcntl.h>
#include <ini.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <optional>

#include "platform/path.h"

namespace kx8::platform {
namespace {

constexpr std::string_view kByteOrderMark = "\xEF\xBB\xBF";

bool IsBlank(char c) { return c == ' ' || c == '\t' || c == '\v' || c == '\f' || c == '\r'; }

std::string_view TrimBlanks(std::string_view text) {
  while (!text.empty() && IsBlank(text.front())) text.remove_prefix(1);
  while (!text.empty() && IsBlank(text.back())) text.remove_suffix(1);
  return text;
}

std::string_view DropSurroundingQuotes(std::string_view value) {
  if (value.size() >= 2 && (value.front() == '"' || value.front() == '\'') &&
      value.back() == value.front()) {
    return value.substr(1, value.size() - 2);
  }
  return value;
}

// inih reads the structure of the file (sections, comments, which lines
// hold keys). It is fed one line at a time by ReadLine, which keeps the line
// as written; the handler then takes the key and its value from that line
// by the Windows rules, so that inih's own value rules (inline ";"
// comments, ":" as a separator, its line length limit) do not apply.
struct ParseState {
  std::string_view content;
  std::size_t position = 0;
  std::string_view current_line;  // the line inih is working on, as written

  std::string_view section;
  std::string_view key;
  std::optional<std::string> value;  // the first value found
};

char* ReadLine(char* buffer, int size, void* stream) {
  auto& state = *static_cast<ParseState*>(stream);
  if (state.position >= state.content.size() || size <= 1) return nullptr;

  const std::string_view rest = state.content.substr(state.position);
  const std::size_t end = rest.find('\n');
  std::string_view line = rest.substr(0, end);
  state.position += end == std::string_view::npos ? rest.size() : end + 1;
  if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
  state.current_line = line;

  // No leading blanks: inih would take an indented line as the
  // continuation of the previous value, which the Windows format does not
  // know. A line longer than inih's buffer is cut; inih only needs its
  // start to see what kind of line it is.
  while (!line.empty() && IsBlank(line.front())) line.remove_prefix(1);
  const std::size_t length = std::min(line.size(), static_cast<std::size_t>(size - 1));
  std::memcpy(buffer, line.data(), length);
  buffer[length] = '\0';
  return buffer;
}

int OnKeyLine(void* user, const char* section, const char* /*name*/, const char* /*value*/) {
  auto& state = *static_cast<ParseState*>(user);
  if (state.value) return 1;
  if (!SameNameIgnoreCase(TrimBlanks(section), state.section)) return 1;

  const std::string_view line = state.current_line;
  const std::size_t equals = line.find('=');
  if (equals == std::string_view::npos) return 1;  // inih split at ":"; not a key line here
  if (!SameNameIgnoreCase(TrimBlanks(line.substr(0, equals)), state.key)) return 1;

  state.value = std::string(DropSurroundingQuotes(TrimBlanks(line.substr(equals + 1))));
  return 1;
}

// The content of a regular file; nullopt when there is none or it cannot
// be read, which the Windows routine treats like a missing file.
std::optional<std::string> ReadWholeFile(const std::string& native_path) {
  const int fd = ::open(native_path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return std::nullopt;
  std::optional<std::string> content;
  struct stat info {};
  if (::fstat(fd, &info) == 0 && S_ISREG(info.st_mode)) {
    content.emplace();
    char buffer[8192];
    for (;;) {
      const ssize_t got = ::read(fd, buffer, sizeof buffer);
      if (got > 0) {
        content->append(buffer, static_cast<std::size_t>(got));
      } else if (got == 0) {
        break;
      } else if (errno != EINTR) {
        content.reset();
        break;
      }
    }
  }
  ::close(fd);
  return content;
}

}  // namespace

IniFile::IniFile(std::string file_name) : file_name_(std::move(file_name)) {}

std::string IniFile::ReadString(std::string_view section, std::string_view key,
                                std::string_view default_value) const {
  const std::optional<std::string> content = ReadWholeFile(ResolvePath(file_name_));
  if (!content) return std::string(default_value);

  ParseState state;
  state.content = *content;
  if (state.content.starts_with(kByteOrderMark)) state.content.remove_prefix(kByteOrderMark.size());
  state.section = TrimBlanks(section);
  state.key = TrimBlanks(key);

  // The result only tells of malformed lines, which the Windows routine
  // ignores as well.
  (void)ini_parse_stream(&ReadLine, &state, &OnKeyLine, &state);
  return state.value ? *state.value : std::string(default_value);
}

std::string ReadIniString(std::string_view file_name, std::string_view section,
                          std::string_view key) {
  return IniFile(std::string(file_name)).ReadString(section, key);
}

}  // namespace kx8::platform
