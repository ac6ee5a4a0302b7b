// PNG decoding with libpng's simplified reader, shared by both platforms.
#include "ui/images.h"

#include <png.h>

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

}  // namespace starfell
