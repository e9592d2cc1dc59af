// The project file: the sound settings of one screening room and the
// processor's network address, kept as a flat 290-byte file.
//
//   0    5    magic "QSDAT"
//   5    253  image offsets 0..252
//   258  12   image offsets 253..264
//   270  20   device_ip_text, all 20 bytes as held
//
// The profile texts and the device information are not part of a project.
#pragma once

#include <array>
#include <cstdint>
#include <filesystem>
#include <span>
#include <string>
#include <string_view>

#include "core/parameter_image.h"
#include "core/status_texts.h"

namespace tk770 {

inline constexpr std::string_view project_magic = "QSDAT";
inline constexpr int project_run_a_length = 253;
inline constexpr int project_run_b_length = 12;
inline constexpr int device_ip_text_size = 20;
// Magic plus both image runs: the least a file must hold to be loaded.
inline constexpr int project_min_size = 5 + project_run_a_length + project_run_b_length;  // 270
inline constexpr int project_file_size = project_min_size + device_ip_text_size;          // 290

enum ProjectFileResult : int {
    project_ok = 0,
    project_cannot_open = 1,
    project_cannot_write = 2,
    project_format_error = 4,
};

// Loads a project. Anything but a regular file is refused at once with
// project_cannot_open (a FIFO would block for ever). A file that does not start with the magic, or is too short
// to hold both image runs, is refused with project_format_error and nothing
// is changed. A file of 270..289 bytes loads the image runs and leaves
// `device_ip_text` as it was; anything past byte 290 is ignored.
int read_project_file(const std::filesystem::path& path, ParameterImage& image,
                      std::array<char, device_ip_text_size>& device_ip_text);

// The same judgement over bytes already in memory (what read_project_file
// does once it has the file's first 290 bytes). Never returns
// project_cannot_open.
int read_project_bytes(std::span<const std::uint8_t> bytes, ParameterImage& image,
                       std::array<char, device_ip_text_size>& device_ip_text);

// Saves a project. The bytes go to a temporary file beside `path` that
// replaces it only once everything was written, so a failed save leaves an
// existing project as it was and leaves no temporary file behind.
// A target that is not a regular file, or that the user may not write, is
// refused. `reason`, when given, receives "PATH: the system's reason".
int write_project_file(const std::filesystem::path& path, const ParameterImage& image,
                       const std::array<char, device_ip_text_size>& device_ip_text, std::string* reason = nullptr);

// The 290 bytes of a project file.
std::array<std::uint8_t, project_file_size> project_file_bytes(
    const ParameterImage& image, const std::array<char, device_ip_text_size>& device_ip_text);

// The fixed English message of a result code; empty for success and for
// codes that have none.
std::string_view file_result_message(int code);

}  // namespace tk770
