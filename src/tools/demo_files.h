// Files of the demo data that are not tables: pictures and zip archives.
#ifndef KX8_TOOLS_DEMO_FILES_H_
#define KX8_TOOLS_DEMO_FILES_H_

#include <cstdint>
#include <string>
#include <vector>

namespace kx8::tools {

// A Windows bitmap file (24 bits per pixel, bottom-up rows) of a
// width x height picture: a shaded portrait-like pattern chosen by seed.
std::string MakeBitmap(int width, int height, std::uint32_t seed);

// A baseline colour JPEG file of the same kind of picture.
std::string MakeJpeg(int width, int height, std::uint32_t seed);

struct ZipEntry {
  std::string name;     // entry name inside the archive
  std::string content;  // bytes
};

// Writes a new archive (replacing any file of that name) holding the
// entries, deflated. Raises std::runtime_error naming the archive.
void WriteZip(const std::string& path, const std::vector<ZipEntry>& entries);

// The entries of an archive, for the tests and for listings.
std::vector<ZipEntry> ReadZip(const std::string& path);

// The bytes of a file; raises std::runtime_error when it cannot be read.
std::string ReadFileBytes(const std::string& path);
void WriteFileBytes(const std::string& path, const std::string& bytes);

}  // namespace kx8::tools

#endif  // KX8_TOOLS_DEMO_FILES_H_
