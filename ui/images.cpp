// PNG decoding with libpng's simplified reader, shared by both platforms.
#include "ui/images.h"

#include <png.h>

#include <algorithm>
#include <cmath>
#include <string>

#include "base/diagnostics.h"

namespace starfell {

ImTextureID backgroundTexture = nullptr;

bool decodePng(const void* bytes, std::size_t size, PixelOrder order, DecodedImage& out) {
    png_image image{};
    image.version = PNG_IMAGE_VERSION;
    if (!bytes || size == 0 || !png_image_begin_read_from_memory(&image, bytes, size)) {
        writeDiagnostic(std::string("Cannot read picture: ") + (size ? image.message : "no data"));
        png_image_free(&image);
        return false;
    }
    if (image.width == 0 || image.height == 0 || image.width > MaxImageSide || image.height > MaxImageSide) {
        writeDiagnostic("Cannot read picture: size " + std::to_string(image.width) + "x" +
                        std::to_string(image.height) + " out of range");
        png_image_free(&image);
        return false;
    }
    image.format = order == PixelOrder::RGBA ? PNG_FORMAT_RGBA : PNG_FORMAT_BGRA;
    std::vector<unsigned char> pixels(PNG_IMAGE_SIZE(image));
    if (!png_image_finish_read(&image, nullptr, pixels.data(), 0, nullptr)) {
        writeDiagnostic(std::string("Cannot read picture: ") + image.message);
        png_image_free(&image);
        return false;
    }
    out.width = static_cast<int>(image.width);
    out.height = static_cast<int>(image.height);
    out.pixels = std::move(pixels);
    return true;
}

namespace {

int nextPowerOfTwo(int value) {
    int result = 1;
    while (result < value) result <<= 1;
    return result;
}

int largestPowerOfTwoWithin(int value) {
    int result = 1;
    while (result * 2 <= value) result <<= 1;
    return result;
}

// One output pixel's sources along one axis, with weights summing to 1.
struct Tap {
    int source;
    float weight;
};

std::vector<std::vector<Tap>> axisTaps(int from, int to) {
    std::vector<std::vector<Tap>> taps(static_cast<size_t>(to));
    const double scale = static_cast<double>(from) / to;
    for (int i = 0; i < to; ++i) {
        std::vector<Tap>& out = taps[static_cast<size_t>(i)];
        if (scale > 1.0) {
            // Shrinking: the average of the source span this pixel covers.
            const double begin = i * scale, end = (i + 1) * scale;
            for (int s = static_cast<int>(begin); s < end && s < from; ++s) {
                const double covered = std::min<double>(end, s + 1) - std::max<double>(begin, s);
                if (covered > 0) out.push_back({s, static_cast<float>(covered / scale)});
            }
        } else {
            // Growing (or equal): linear between the two nearest source pixels.
            const double centre = std::clamp((i + 0.5) * scale - 0.5, 0.0, from - 1.0);
            const int s = static_cast<int>(centre);
            const float t = static_cast<float>(centre - s);
            out.push_back({s, 1.0f - t});
            if (t > 0 && s + 1 < from) out.push_back({s + 1, t});
        }
    }
    return taps;
}

}  // namespace

ImageSize textureSizeFor(int width, int height, const TextureLimits& limits) {
    ImageSize size{width, height};
    if (limits.powersOfTwoOnly) size = {nextPowerOfTwo(width), nextPowerOfTwo(height)};
    if (limits.squareOnly) size.width = size.height = std::max(size.width, size.height);
    auto fit = [&](int& side, int limit) {
        if (limit <= 0 || side <= limit) return;
        side = limits.powersOfTwoOnly ? largestPowerOfTwoWithin(limit) : limit;
    };
    fit(size.width, limits.maxWidth);
    fit(size.height, limits.maxHeight);
    if (limits.squareOnly) size.width = size.height = std::min(size.width, size.height);
    return size;
}

DecodedImage resizedImage(const DecodedImage& image, int width, int height) {
    const std::vector<std::vector<Tap>> columns = axisTaps(image.width, width);
    const std::vector<std::vector<Tap>> rows = axisTaps(image.height, height);
    // Across first, into floats, then down.
    std::vector<float> across(static_cast<size_t>(width) * image.height * 4, 0.0f);
    for (int y = 0; y < image.height; ++y)
        for (int x = 0; x < width; ++x)
            for (const Tap& tap : columns[static_cast<size_t>(x)])
                for (int c = 0; c < 4; ++c)
                    across[(static_cast<size_t>(y) * width + x) * 4 + c] +=
                        tap.weight * image.pixels[(static_cast<size_t>(y) * image.width + tap.source) * 4 + c];
    DecodedImage out;
    out.width = width;
    out.height = height;
    out.pixels.resize(static_cast<size_t>(width) * height * 4);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x)
            for (int c = 0; c < 4; ++c) {
                float value = 0.0f;
                for (const Tap& tap : rows[static_cast<size_t>(y)])
                    value += tap.weight * across[(static_cast<size_t>(tap.source) * width + x) * 4 + c];
                out.pixels[(static_cast<size_t>(y) * width + x) * 4 + c] =
                    static_cast<unsigned char>(std::clamp(std::lround(value), 0L, 255L));
            }
    return out;
}

}  // namespace starfell
