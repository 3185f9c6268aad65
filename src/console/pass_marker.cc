#include "console/pass_marker.h"

#include <chrono>
#include <ctime>
#include <sstream>

#include "platform/durable_file.h"

namespace kx8::console {

const char kPassMarkerFile[] = "KX8-PASS-STARTED.TXT";

namespace {

const char kArchiveKey[] = "archive=";
const char kStartedKey[] = "started=";
const char kInterrupted[] = "the upgrade of company ";
const char kInterruptedMiddle[] = " was interrupted; run it again";
const char kRestoreFrom[] = ", or restore from archive ";

std::string MarkerPath(const std::string& folder) {
  if (!folder.empty() && (folder.back() == '\\' || folder.back() == '/')) return folder + kPassMarkerFile;
  return folder + "\\" + kPassMarkerFile;
}

std::string UtcNow() {
  const std::time_t now = std::chrono::system_clock::to_time_t(std::chrono::system_clock::now());
  std::tm utc{};
  gmtime_r(&now, &utc);
  char text[32];
  std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%SZ", &utc);
  return text;
}

}  // namespace

void WritePassMarker(const std::string& folder, const std::string& archive) {
  platform::WriteFileDurably(MarkerPath(folder),
                             std::string(kArchiveKey) + archive + "\n" + kStartedKey + UtcNow() + "\n");
}

std::optional<PassMarker> ReadPassMarker(const std::string& folder) {
  std::optional<std::string> content = platform::ReadWholeFile(MarkerPath(folder));
  if (!content) return std::nullopt;
  PassMarker marker;
  std::istringstream lines(*content);
  std::string line;
  while (std::getline(lines, line)) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (line.rfind(kArchiveKey, 0) == 0) marker.archive = line.substr(sizeof kArchiveKey - 1);
    if (line.rfind(kStartedKey, 0) == 0) marker.started = line.substr(sizeof kStartedKey - 1);
  }
  return marker;
}

void RemovePassMarker(const std::string& folder) { platform::DeleteFileDurably(MarkerPath(folder)); }

std::string InterruptedPassMessage(const std::string& code, const PassMarker& marker) {
  std::string text = kInterrupted + code + kInterruptedMiddle;
  if (!marker.archive.empty()) text += kRestoreFrom + marker.archive;
  return text;
}

}  // namespace kx8::console
