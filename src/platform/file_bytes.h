// Whole files read and written as bytes, by Windows paths (path.h).
#ifndef KX8_PLATFORM_FILE_BYTES_H_
#define KX8_PLATFORM_FILE_BYTES_H_

#include <string>
#include <string_view>

namespace kx8::platform {

// The bytes of a file. Raises std::runtime_error "Cannot open file <path>."
// (the path as given) when it cannot be read.
std::string ReadFileBytes(std::string_view path);

// Replaces the file with the bytes: written to a temporary file in the same
// folder, flushed and renamed over it, so that a reader sees the old file
// or the new one, never a part. The folder is not created. Raises
// std::runtime_error "Cannot create file <path>." (the path as given) on
// any failure, leaving the old file and no temporary one.
void WriteFileBytes(std::string_view path, std::string_view bytes);

}  // namespace kx8::platform

#endif  // KX8_PLATFORM_FILE_BYTES_H_
