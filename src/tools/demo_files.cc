#include "tools/demo_files.h"

#include <zip.h>

#include <cmath>
#include <fstream>
#include <iterator>
#include <memory>
#include <sstream>
#include <stdexcept>

#include "platform/path.h"

#define STB_IMAGE_WRITE_IMPLEMENTATION
#define STB_IMAGE_WRITE_STATIC
#include <stb/stb_image_write.h>

namespace kx8::tools {
namespace {

// A head-and-shoulders silhouette on a shaded background, in RGB.
std::vector<unsigned char> Portrait(int width, int height, std::uint32_t seed) {
  std::vector<unsigned char> rgb(static_cast<std::size_t>(width) * height * 3);
  const int bg_r = 90 + static_cast<int>(seed % 120);
  const int bg_g = 110 + static_cast<int>((seed / 7) % 100);
  const int bg_b = 150 + static_cast<int>((seed / 49) % 90);
  const double cx = width / 2.0, head_y = height * 0.38, head_r = width * 0.22;
  for (int y = 0; y < height; ++y) {
    for (int x = 0; x < width; ++x) {
      double shade = 1.0 - 0.35 * y / height;
      int r = static_cast<int>(bg_r * shade), g = static_cast<int>(bg_g * shade), b = static_cast<int>(bg_b * shade);
      double dx = x - cx, dy = y - head_y;
      bool head = dx * dx + dy * dy <= head_r * head_r;
      bool body = y > height * 0.62 && std::abs(dx) < width * (0.2 + (y - height * 0.62) / height);
      if (head) {
        r = 224 - static_cast<int>(seed % 60);
        g = 182 - static_cast<int>(seed % 50);
        b = 150 - static_cast<int>(seed % 40);
      } else if (body) {
        r = 40 + static_cast<int>(seed % 80);
        g = 40;
        b = 70 + static_cast<int>(seed % 100);
      }
      std::size_t at = (static_cast<std::size_t>(y) * width + x) * 3;
      rgb[at] = static_cast<unsigned char>(r);
      rgb[at + 1] = static_cast<unsigned char>(g);
      rgb[at + 2] = static_cast<unsigned char>(b);
    }
  }
  return rgb;
}

void PutLe(std::string& out, std::uint32_t value, int bytes) {
  for (int i = 0; i < bytes; ++i) out.push_back(static_cast<char>((value >> (8 * i)) & 0xFF));
}

void AppendBytes(void* context, void* data, int size) {
  static_cast<std::string*>(context)->append(static_cast<const char*>(data), static_cast<std::size_t>(size));
}

struct ZipCloser {
  void operator()(zip_t* z) const { zip_discard(z); }
};

}  // namespace

std::string MakeBitmap(int width, int height, std::uint32_t seed) {
  std::vector<unsigned char> rgb = Portrait(width, height, seed);
  const std::uint32_t row = static_cast<std::uint32_t>((width * 3 + 3) / 4 * 4);
  const std::uint32_t pixels = row * static_cast<std::uint32_t>(height);
  std::string bmp = "BM";
  PutLe(bmp, 54 + pixels, 4);  // file size
  PutLe(bmp, 0, 4);            // reserved
  PutLe(bmp, 54, 4);           // offset of the pixels
  PutLe(bmp, 40, 4);           // BITMAPINFOHEADER
  PutLe(bmp, static_cast<std::uint32_t>(width), 4);
  PutLe(bmp, static_cast<std::uint32_t>(height), 4);
  PutLe(bmp, 1, 2);   // planes
  PutLe(bmp, 24, 2);  // bits per pixel
  PutLe(bmp, 0, 4);   // no compression
  PutLe(bmp, pixels, 4);
  PutLe(bmp, 2835, 4);  // 72 dpi
  PutLe(bmp, 2835, 4);
  PutLe(bmp, 0, 4);
  PutLe(bmp, 0, 4);
  for (int y = height - 1; y >= 0; --y) {
    std::uint32_t written = 0;
    for (int x = 0; x < width; ++x) {
      std::size_t at = (static_cast<std::size_t>(y) * width + x) * 3;
      bmp.push_back(static_cast<char>(rgb[at + 2]));  // blue, green, red
      bmp.push_back(static_cast<char>(rgb[at + 1]));
      bmp.push_back(static_cast<char>(rgb[at]));
      written += 3;
    }
    for (; written < row; ++written) bmp.push_back('\0');
  }
  return bmp;
}

std::string MakeJpeg(int width, int height, std::uint32_t seed) {
  std::vector<unsigned char> rgb = Portrait(width, height, seed);
  std::string jpeg;
  if (stbi_write_jpg_to_func(AppendBytes, &jpeg, width, height, 3, rgb.data(), 90) == 0) {
    throw std::runtime_error("The JPEG picture could not be encoded.");
  }
  return jpeg;
}

void WriteZip(const std::string& path, const std::vector<ZipEntry>& entries) {
  const std::string native = platform::ResolvePath(path);
  int error = 0;
  std::unique_ptr<zip_t, ZipCloser> archive(zip_open(native.c_str(), ZIP_CREATE | ZIP_TRUNCATE, &error));
  if (!archive) throw std::runtime_error("The archive " + path + " could not be created.");
  for (const ZipEntry& e : entries) {
    zip_source_t* source = zip_source_buffer(archive.get(), e.content.data(), e.content.size(), 0);
    if (source == nullptr || zip_file_add(archive.get(), e.name.c_str(), source, ZIP_FL_OVERWRITE) < 0) {
      if (source != nullptr) zip_source_free(source);
      throw std::runtime_error("The entry " + e.name + " could not be added to " + path + ": " +
                               zip_strerror(archive.get()));
    }
  }
  // zip_close writes the archive; the buffers above must live until then.
  if (zip_close(archive.get()) != 0) {
    throw std::runtime_error("The archive " + path + " could not be written: " + zip_strerror(archive.get()));
  }
  archive.release();
}

std::vector<ZipEntry> ReadZip(const std::string& path) {
  const std::string native = platform::ResolvePath(path);
  int error = 0;
  std::unique_ptr<zip_t, ZipCloser> archive(zip_open(native.c_str(), ZIP_RDONLY, &error));
  if (!archive) throw std::runtime_error("The archive " + path + " could not be opened.");
  std::vector<ZipEntry> entries;
  zip_int64_t count = zip_get_num_entries(archive.get(), 0);
  for (zip_int64_t i = 0; i < count; ++i) {
    zip_stat_t st;
    if (zip_stat_index(archive.get(), static_cast<zip_uint64_t>(i), 0, &st) != 0) continue;
    zip_file_t* f = zip_fopen_index(archive.get(), static_cast<zip_uint64_t>(i), 0);
    if (f == nullptr) throw std::runtime_error("The entry " + std::string(st.name) + " of " + path + " is unreadable.");
    std::string content(static_cast<std::size_t>(st.size), '\0');
    zip_int64_t got = zip_fread(f, content.data(), st.size);
    zip_fclose(f);
    if (got != static_cast<zip_int64_t>(st.size)) {
      throw std::runtime_error("The entry " + std::string(st.name) + " of " + path + " is unreadable.");
    }
    entries.push_back({st.name, std::move(content)});
  }
  return entries;
}

std::string ReadFileBytes(const std::string& path) {
  std::ifstream in(platform::ResolvePath(path), std::ios::binary);
  if (!in) throw std::runtime_error("The file " + path + " could not be read.");
  std::ostringstream bytes;
  bytes << in.rdbuf();
  return bytes.str();
}

void WriteFileBytes(const std::string& path, const std::string& bytes) {
  std::ofstream out(platform::ResolvePath(path), std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  if (!out) throw std::runtime_error("The file " + path + " could not be written.");
}

}  // namespace kx8::tools
