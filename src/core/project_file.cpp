#include "core/project_file.h"

#include "core/file_output.h"

#include <algorithm>
#include <fstream>

namespace tk770 {

namespace fs = std::filesystem;

int read_project_file(const fs::path& path, ParameterImage& image,
                      std::array<char, device_ip_text_size>& device_ip_text)
{
    if (!input_file_problem(path).empty()) return project_cannot_open;
    std::ifstream in(path, std::ios::binary);
    if (!in.is_open()) return project_cannot_open;

    std::array<char, project_file_size> buffer{};
    in.read(buffer.data(), buffer.size());
    if (in.bad()) return project_cannot_open;
    const auto count = static_cast<std::size_t>(in.gcount());
    return read_project_bytes(
        std::span(reinterpret_cast<const std::uint8_t*>(buffer.data()), count), image, device_ip_text);
}

int read_project_bytes(std::span<const std::uint8_t> bytes, ParameterImage& image,
                       std::array<char, device_ip_text_size>& device_ip_text)
{
    const std::size_t count = bytes.size();
    if (count < project_magic.size() ||
        !std::equal(project_magic.begin(), project_magic.end(), bytes.begin()))
        return project_format_error;
    // A truncated project would otherwise mix its bytes with the settings
    // already in the image; refuse it whole instead.
    if (count < static_cast<std::size_t>(project_min_size)) return project_format_error;

    const auto runs = bytes.subspan(project_magic.size());
    std::copy_n(runs.begin(), project_run_a_length + project_run_b_length, image.data());
    if (count >= static_cast<std::size_t>(project_file_size))
        std::copy_n(bytes.begin() + project_min_size, device_ip_text_size, device_ip_text.begin());
    return project_ok;
}

std::array<std::uint8_t, project_file_size> project_file_bytes(
    const ParameterImage& image, const std::array<char, device_ip_text_size>& device_ip_text)
{
    std::array<std::uint8_t, project_file_size> bytes{};
    std::copy(project_magic.begin(), project_magic.end(), bytes.begin());
    std::copy_n(image.data(), project_run_a_length + project_run_b_length, bytes.begin() + project_magic.size());
    std::copy(device_ip_text.begin(), device_ip_text.end(), bytes.begin() + project_min_size);
    return bytes;
}

int write_project_file(const fs::path& path, const ParameterImage& image,
                       const std::array<char, device_ip_text_size>& device_ip_text, std::string* reason)
{
    std::string error;
    if (write_file_atomically(path, project_file_bytes(image, device_ip_text), error)) return project_ok;
    if (reason != nullptr) *reason = error;
    return project_cannot_write;
}

std::string_view file_result_message(int code)
{
    switch (code) {
    case project_cannot_open: return text_cannot_open_file;
    case project_cannot_write: return text_cannot_write_file;
    case project_format_error: return text_file_format_error;
    default: return {};
    }
}

}  // namespace tk770
