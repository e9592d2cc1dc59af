#include "cli/PngEncoder.h"

#include <png.h>

namespace tk770 {

std::vector<std::uint8_t> encodePngRgb(std::span<const std::uint32_t> pixels, int width, int height)
{
    if (width <= 0 || height <= 0 || pixels.size() != static_cast<std::size_t>(width) * static_cast<std::size_t>(height))
        return {};
    std::vector<std::uint8_t> rgb;
    rgb.reserve(pixels.size() * 3);
    for (const std::uint32_t p : pixels) {
        rgb.push_back(static_cast<std::uint8_t>(p >> 16));
        rgb.push_back(static_cast<std::uint8_t>(p >> 8));
        rgb.push_back(static_cast<std::uint8_t>(p));
    }

    // The simplified API reports errors through its return value and never
    // longjmps through this code.
    png_image image{};
    image.version = PNG_IMAGE_VERSION;
    image.width = static_cast<png_uint_32>(width);
    image.height = static_cast<png_uint_32>(height);
    image.format = PNG_FORMAT_RGB;
    const png_int_32 stride = width * 3;
    png_alloc_size_t size = 0;
    if (!png_image_write_to_memory(&image, nullptr, &size, 0, rgb.data(), stride, nullptr)) {
        png_image_free(&image);
        return {};
    }
    std::vector<std::uint8_t> bytes(size);
    if (!png_image_write_to_memory(&image, bytes.data(), &size, 0, rgb.data(), stride, nullptr)) {
        png_image_free(&image);
        return {};
    }
    bytes.resize(size);
    return bytes;
}

}  // namespace tk770
