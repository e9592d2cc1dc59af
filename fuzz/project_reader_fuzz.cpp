// Any bytes as a project file. A file is either taken whole (magic and both
// image runs present) or refused with nothing changed; the reader never
// looks past the bytes it was given.
#include "core/project_file.h"
#include "fuzz_check.h"

#include <algorithm>
#include <cstring>

using namespace tk770;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    ParameterImage image{};
    std::memset(image.data(), 0x5A, image_size);
    ParameterImage before = image;
    std::array<char, device_ip_text_size> ip{};
    ip.fill('#');
    const auto ip_before = ip;

    const int result = read_project_bytes(std::span(data, size), image, ip);

    const bool well_formed = size >= static_cast<std::size_t>(project_min_size) &&
                             std::memcmp(data, project_magic.data(), project_magic.size()) == 0;
    if (!well_formed) {
        FUZZ_CHECK(result == project_format_error);
        FUZZ_CHECK(std::memcmp(image.data(), before.data(), image_size) == 0);
        FUZZ_CHECK(ip == ip_before);
        return 0;
    }
    FUZZ_CHECK(result == project_ok);
    const std::size_t runs = project_run_a_length + project_run_b_length;
    FUZZ_CHECK(std::memcmp(image.data(), data + project_magic.size(), runs) == 0);
    // The profile texts and device information are not part of a project.
    FUZZ_CHECK(std::memcmp(image.data() + runs, before.data() + runs, image_size - runs) == 0);
    if (size >= static_cast<std::size_t>(project_file_size))
        FUZZ_CHECK(std::memcmp(ip.data(), data + project_min_size, device_ip_text_size) == 0);
    else
        FUZZ_CHECK(ip == ip_before);
    return 0;
}
