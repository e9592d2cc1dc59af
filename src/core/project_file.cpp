#include "core/project_file.h"

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <random>
#include <system_error>

namespace tk770 {

namespace fs = std::filesystem;

namespace {

// A name beside the target that no other save is using, so the final rename
// stays on one file system and cannot clash with a concurrent save.
fs::path temporary_beside(const fs::path& target)
{
    static std::mt19937 rng{std::random_device{}()};
    const fs::path dir = target.parent_path();
    for (int attempt = 0; attempt < 16; ++attempt) {
        char suffix[16];
        std::snprintf(suffix, sizeof suffix, ".%08x", static_cast<unsigned>(rng()));
        fs::path candidate = dir / ("." + target.filename().string() + suffix + ".tmp");
        std::error_code ec;
        if (!fs::exists(candidate, ec) && !ec) return candidate;
    }
    return {};
}

}  // namespace

int read_project_file(const fs::path& path, ParameterImage& image,
                      std::array<char, device_ip_text_size>& device_ip_text)
{
    std::error_code ec;
    if (fs::is_directory(path, ec)) return project_cannot_open;
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

int write_project_file(const fs::path& path, const ParameterImage& image,
                       const std::array<char, device_ip_text_size>& device_ip_text)
{
    std::array<char, project_file_size> buffer{};
    std::copy(project_magic.begin(), project_magic.end(), buffer.begin());
    std::copy_n(reinterpret_cast<const char*>(image.data()), project_run_a_length + project_run_b_length,
                buffer.begin() + project_magic.size());
    std::copy(device_ip_text.begin(), device_ip_text.end(), buffer.begin() + project_min_size);

    // Saving through a link updates the file it points to, as an in-place
    // write would, instead of replacing the link with a plain file.
    std::error_code ec;
    fs::path target = path;
    if (fs::is_symlink(path, ec)) {
        target = fs::weakly_canonical(path, ec);
        if (ec) return project_cannot_write;
    }

    const fs::path temporary = temporary_beside(target);
    if (temporary.empty()) return project_cannot_write;

    bool written = false;
    {
        std::ofstream out(temporary, std::ios::binary | std::ios::trunc);
        if (out.is_open()) {
            out.write(buffer.data(), buffer.size());
            out.flush();
            // A full disk often shows only when the last bytes leave the
            // stream's buffer, so the close is checked too.
            out.close();
            written = !out.fail();
        }
    }
    if (written) {
        // Keep the permissions of the project being replaced.
        const auto existing = fs::status(target, ec);
        if (!ec && fs::is_regular_file(existing))
            fs::permissions(temporary, existing.permissions(), fs::perm_options::replace, ec);
        ec.clear();
        fs::rename(temporary, target, ec);
        if (!ec) return project_ok;
    }
    fs::remove(temporary, ec);
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
