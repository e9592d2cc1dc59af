// PNG bytes from 0xRRGGBB pixels through libpng, so the tool needs no Qt GUI
// library (and its start-up cost) just to write the response graph.
#pragma once

#include <cstdint>
#include <span>
#include <vector>

namespace tk770 {

// An 8-bit RGB PNG of `width` x `height` pixels, row-major, top row first.
// Empty when the sizes do not match the pixels or libpng fails.
std::vector<std::uint8_t> encodePngRgb(std::span<const std::uint32_t> pixels, int width, int height);

}  // namespace tk770
