// The interrupted-pass marker: a small file a company's pass writes into
// the company folder before it changes anything, and removes when the pass
// ends with an outcome the run reports. A process that is killed, or a
// machine that loses power, during the pass leaves it behind, so that the
// next run can say which company was left half-upgraded and which archive
// holds it as it was before.
//
// The file is "KX8-PASS-STARTED.TXT", written durably (platform/
// durable_file.h): after a crash it is either whole or absent. It holds
// two lines, "archive=" and the backup archive's path (empty when the run
// took no backup), and "started=" and the moment the pass started (UTC,
// "YYYY-MM-DDThh:mm:ssZ").
#ifndef KX8_CONSOLE_PASS_MARKER_H_
#define KX8_CONSOLE_PASS_MARKER_H_

#include <optional>
#include <string>

namespace kx8::console {

extern const char kPassMarkerFile[];  // "KX8-PASS-STARTED.TXT"

struct PassMarker {
  std::string archive;  // empty: no backup was taken before the pass
  std::string started;
};

// Writes the marker into `folder` (a company folder, with or without a
// trailing separator). Raises naming the file when it cannot be written
// durably; the folder is then as it was.
void WritePassMarker(const std::string& folder, const std::string& archive);
// The marker of `folder`; nullopt when there is none. A marker whose lines
// cannot be read (written by hand, say) still counts, with empty fields.
// Raises when the file exists but cannot be read.
std::optional<PassMarker> ReadPassMarker(const std::string& folder);
// Removes the marker durably; nothing when there is none.
void RemovePassMarker(const std::string& folder);

// What the next run says of a company left with a marker.
std::string InterruptedPassMessage(const std::string& code, const PassMarker& marker);

}  // namespace kx8::console

#endif  // KX8_CONSOLE_PASS_MARKER_H_
