// Built-in pictures: PNG decoding and the textures made from them.
#pragma once
#include <cstddef>
#include <vector>

#include "imgui.h"

namespace starfell {

enum class PixelOrder { RGBA, BGRA };

struct DecodedImage {
    int width = 0;
    int height = 0;
    std::vector<unsigned char> pixels;  // width * height * 4 bytes, rows top to bottom
};

// Largest picture accepted, per side: a damaged header cannot ask for gigabytes.
constexpr int MaxImageSide = 8192;

// Decodes a PNG held in memory into 8-bit pixels with alpha in the given order.
// Returns false (with a diagnostic line) for anything that is not a readable PNG.
bool decodePng(const void* bytes, std::size_t size, PixelOrder order, DecodedImage& out);

// What a graphics device accepts as a texture's size.
struct TextureLimits {
    bool powersOfTwoOnly = false;
    bool squareOnly = false;
    int maxWidth = 0;   // 0: no limit known
    int maxHeight = 0;
};

struct ImageSize {
    int width;
    int height;
};

// The size a picture of width x height is uploaded at: its own where the device
// takes it, otherwise the nearest size the device accepts (powers of two
// rounded up, then kept within the largest texture).
ImageSize textureSizeFor(int width, int height, const TextureLimits& limits);

// The picture resampled to width x height with filtering (an area average when
// shrinking, linear when growing), so a fitted picture keeps its fine detail
// instead of dropping or doubling whole pixel rows.
DecodedImage resizedImage(const DecodedImage& image, int width, int height);

// The background picture, drawn first on the main screen; null when it could not be made.
extern ImTextureID backgroundTexture;

// Platform: creates a texture on the launcher's device from the built-in PNG
// picture `id` and stores it in `slot`; leaves `slot` unchanged on failure.
void loadImageResource(int id, ImTextureID& slot);

// Platform: releases a texture made by loadImageResource and clears the slot.
void releaseImage(ImTextureID& slot);

}  // namespace starfell
