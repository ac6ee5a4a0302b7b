// Files built into the launcher as byte arrays (generated at build time by
// tools/embed_file.py); on Windows the picture and icon are resources instead.
#pragma once
#include <cstddef>
#include <cstdint>

namespace starfell::resources {

// Font Awesome 5 Free Solid 5.15.3, uncompressed.
extern const unsigned char fontAwesomeSolid[];
extern const std::size_t fontAwesomeSolidSize;

// FontAwesome 4.7.0 in the GUI library's compressed font format.
extern const unsigned char fontAwesomeLegacyCompressed[];
extern const std::size_t fontAwesomeLegacyCompressedSize;
// Size and Adler-32 of the font before compression.
extern const std::size_t fontAwesomeLegacyCompressedOriginalSize;
extern const std::uint32_t fontAwesomeLegacyCompressedOriginalAdler32;

// The background picture (PNG, 1140 x 670 RGBA); Linux only; Windows reads
// the "PNG" resource 102.
extern const unsigned char backgroundPng[];
extern const std::size_t backgroundPngSize;

// The window icon (the Windows icon file: one 32 x 32 image, 32 bits per
// pixel); Linux only; Windows reads the icon resource 106.
extern const unsigned char windowIcon[];
extern const std::size_t windowIconSize;

// Resource ids of the Windows executable.
constexpr int BackgroundImageId = 102;
constexpr int WindowIconId = 106;

}  // namespace starfell::resources
