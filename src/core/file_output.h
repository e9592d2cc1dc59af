// Writing files so that a failure never damages what was there: every file
// is written in full to a temporary file beside its target and renamed over
// the target only once all the files of one command were written. Targets
// that are not regular files, or that the user may not write, are refused
// before anything is written. Failures carry the system's own reason.
#pragma once

#include <cstdint>
#include <filesystem>
#include <span>
#include <string>
#include <vector>

namespace tk770 {

// Why `target` may not be replaced by a written file, or empty when it may:
// it must be absent or (through any symbolic links) a regular file the user
// may write.
std::string output_target_problem(const std::filesystem::path& target);

// Why files cannot be written into `dir`, or empty when they can: it must
// be (through any symbolic links) a folder in which the user may create
// files, which is tried with a temporary file that is removed at once.
std::string output_folder_problem(const std::filesystem::path& dir);

// Why `path` cannot be read as a file, or empty: anything but a regular
// file (a folder, a FIFO with no writer, a device) is refused at once
// instead of blocking or reading endlessly.
std::string input_file_problem(const std::filesystem::path& path);

// A set of files written all or nothing.
class OutputFiles {
public:
    OutputFiles() = default;
    ~OutputFiles();
    OutputFiles(const OutputFiles&) = delete;
    OutputFiles& operator=(const OutputFiles&) = delete;

    // Checks the target and writes `bytes` to a temporary file beside it.
    // False, with error() set, when either fails; nothing is replaced.
    bool stage(const std::filesystem::path& target, std::span<const std::uint8_t> bytes);
    // Renames every staged file over its target. Call once all were staged.
    bool commit();

    // "PATH: reason" of the first failure.
    const std::string& error() const { return m_error; }

private:
    struct Staged {
        std::filesystem::path target;     // links already followed
        std::filesystem::path temporary;
    };
    bool fail(const std::filesystem::path& path, const std::string& reason);

    std::vector<Staged> m_staged;
    std::string m_error;
};

// One file, all or nothing. False with `error` set on failure.
bool write_file_atomically(const std::filesystem::path& target, std::span<const std::uint8_t> bytes,
                           std::string& error);

}  // namespace tk770
