// The picture work of the photograph conversion: telling a Windows bitmap
// file image apart, decoding it (stb_image), and encoding a picture as a
// JPEG file image (libjpeg). Only this unit links the image libraries.
#ifndef KX8_CONVERSIONS_PHOTO_CODEC_H_
#define KX8_CONVERSIONS_PHOTO_CODEC_H_

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace kx8::conversions {

// Pixels in RGB order, three bytes each, top row first.
struct Picture {
  int width = 0;
  int height = 0;
  std::vector<unsigned char> rgb;
};

// A Windows bitmap file image: it begins with "BM".
bool IsBitmap(std::string_view bytes);

// The picture of a bitmap file image; nullopt when it cannot be decoded
// (not a bitmap, truncated, or of a kind the decoder does not know).
std::optional<Picture> DecodeBitmap(std::string_view bytes);

// A JPEG file image of the picture: quality 90, colour (three components,
// never greyscale), baseline (sequential, not progressive). Raises
// std::runtime_error with the encoder's text when it fails.
std::string EncodeJpeg(const Picture& picture);

}  // namespace kx8::conversions

#endif  // KX8_CONVERSIONS_PHOTO_CODEC_H_
