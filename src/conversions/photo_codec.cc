#include "conversions/photo_codec.h"

#include <csetjmp>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <stdexcept>

// jpeglib.h needs FILE and size_t declared first.
#include <jpeglib.h>
#include <stb_image.h>

namespace kx8::conversions {
namespace {

constexpr int kJpegQuality = 90;

// libjpeg reports errors through error_exit, which must not return. A C++
// exception cannot be thrown through the C library, so it jumps back to
// EncodeInto, which has nothing to unwind.
struct JpegError {
  jpeg_error_mgr mgr;
  std::jmp_buf jump;
  char text[JMSG_LENGTH_MAX];
};

void JpegErrorExit(j_common_ptr cinfo) {
  JpegError* e = reinterpret_cast<JpegError*>(cinfo->err);
  (*cinfo->err->format_message)(cinfo, e->text);
  std::longjmp(e->jump, 1);
}

// Encodes into a buffer that libjpeg allocates; false (with the error's
// text) on failure. Plain C data only, for the sake of longjmp.
bool EncodeInto(const Picture& p, unsigned char** out, unsigned long* size, JpegError* err) {
  jpeg_compress_struct cinfo;
  cinfo.err = jpeg_std_error(&err->mgr);
  err->mgr.error_exit = JpegErrorExit;
  err->text[0] = '\0';
  if (setjmp(err->jump) != 0) {
    jpeg_destroy_compress(&cinfo);
    return false;
  }
  jpeg_create_compress(&cinfo);
  jpeg_mem_dest(&cinfo, out, size);
  cinfo.image_width = static_cast<JDIMENSION>(p.width);
  cinfo.image_height = static_cast<JDIMENSION>(p.height);
  cinfo.input_components = 3;
  cinfo.in_color_space = JCS_RGB;
  jpeg_set_defaults(&cinfo);  // YCbCr, sequential (baseline) Huffman coding
  jpeg_set_quality(&cinfo, kJpegQuality, TRUE);
  jpeg_start_compress(&cinfo, TRUE);
  const JDIMENSION stride = static_cast<JDIMENSION>(p.width) * 3;
  while (cinfo.next_scanline < cinfo.image_height) {
    JSAMPROW row = const_cast<JSAMPROW>(p.rgb.data() + static_cast<std::size_t>(cinfo.next_scanline) * stride);
    jpeg_write_scanlines(&cinfo, &row, 1);
  }
  jpeg_finish_compress(&cinfo);
  jpeg_destroy_compress(&cinfo);
  return true;
}

}  // namespace

bool IsBitmap(std::string_view bytes) { return bytes.size() >= 2 && bytes[0] == 'B' && bytes[1] == 'M'; }

std::optional<Picture> DecodeBitmap(std::string_view bytes) {
  if (!IsBitmap(bytes) || bytes.size() > static_cast<std::size_t>(INT32_MAX)) return std::nullopt;
  int w = 0, h = 0, channels = 0;
  unsigned char* pixels = stbi_load_from_memory(reinterpret_cast<const stbi_uc*>(bytes.data()),
                                                static_cast<int>(bytes.size()), &w, &h, &channels, 3);
  if (pixels == nullptr) return std::nullopt;
  Picture p;
  p.width = w;
  p.height = h;
  p.rgb.assign(pixels, pixels + static_cast<std::size_t>(w) * static_cast<std::size_t>(h) * 3);
  stbi_image_free(pixels);
  return p;
}

std::string EncodeJpeg(const Picture& picture) {
  if (picture.width <= 0 || picture.height <= 0 ||
      picture.rgb.size() != static_cast<std::size_t>(picture.width) * static_cast<std::size_t>(picture.height) * 3) {
    throw std::runtime_error("The picture has no pixels to encode.");
  }
  unsigned char* buffer = nullptr;
  unsigned long size = 0;
  JpegError err;
  const bool ok = EncodeInto(picture, &buffer, &size, &err);
  std::string jpeg;
  if (ok) jpeg.assign(reinterpret_cast<const char*>(buffer), size);
  std::free(buffer);
  if (!ok) throw std::runtime_error(err.text);
  return jpeg;
}

}  // namespace kx8::conversions
