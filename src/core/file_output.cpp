#include "core/file_output.h"

#include <cerrno>
#include <cstdio>
#include <random>
#include <system_error>

namespace tk770 {

namespace fs = std::filesystem;

namespace {

std::string errno_text(int code) { return std::generic_category().message(code); }

// The temporary name does not grow with the target's name, so any name the
// file system accepts can be saved.
fs::path temporary_name(const fs::path& dir)
{
    static std::mt19937 rng{std::random_device{}()};
    char name[32];
    std::snprintf(name, sizeof name, ".tk770-%08x.tmp", static_cast<unsigned>(rng()));
    return dir / name;
}

// Follows symbolic links to the file that will be replaced, so saving
// through a link updates the linked file instead of replacing the link.
fs::path resolved_target(const fs::path& target, std::error_code& ec)
{
    if (!fs::is_symlink(fs::symlink_status(target, ec))) {
        ec.clear();
        return target;
    }
    return fs::weakly_canonical(target, ec);
}

}  // namespace

std::string output_target_problem(const fs::path& target)
{
    std::error_code ec;
    const auto status = fs::status(target, ec);
    if (ec && status.type() != fs::file_type::not_found) return ec.message();
    if (status.type() == fs::file_type::not_found) {
        // A dangling link would be replaced by a plain file; a loop is refused.
        const auto link = fs::symlink_status(target, ec);
        if (!ec && fs::is_symlink(link)) {
            if (fs::weakly_canonical(target, ec).empty() || ec) return ec ? ec.message() : "a broken link";
        }
        return {};
    }
    if (!fs::is_regular_file(status)) return "not a regular file";
    // Opening for update changes nothing and asks the system, which knows
    // the user, the groups and the access lists, whether a write is allowed.
    errno = 0;
    std::FILE* probe = std::fopen(target.c_str(), "r+b");
    if (probe == nullptr) return errno != 0 ? errno_text(errno) : "cannot be written";
    std::fclose(probe);
    return {};
}

std::string output_folder_problem(const fs::path& dir)
{
    std::error_code ec;
    const auto status = fs::status(dir, ec);
    if (ec) return ec.message();
    if (!fs::is_directory(status)) return "not a folder";
    // Creating a file is the one test that knows the user, the groups, the
    // access lists and a read-only mount.
    errno = 0;
    const fs::path probe = temporary_name(dir);
    std::FILE* out = std::fopen(probe.c_str(), "wbx");
    if (out == nullptr) return errno != 0 ? errno_text(errno) : "cannot create a file in it";
    std::fclose(out);
    fs::remove(probe, ec);
    return {};
}

std::string input_file_problem(const fs::path& path)
{
    std::error_code ec;
    const auto status = fs::status(path, ec);
    if (ec) return ec.message();
    if (!fs::is_regular_file(status)) return "not a regular file";
    return {};
}

OutputFiles::~OutputFiles()
{
    std::error_code ec;
    for (const auto& s : m_staged) fs::remove(s.temporary, ec);
}

bool OutputFiles::fail(const fs::path& path, const std::string& reason)
{
    if (m_error.empty()) m_error = path.string() + ": " + reason;
    return false;
}

bool OutputFiles::stage(const fs::path& target, std::span<const std::uint8_t> bytes)
{
    if (const auto problem = output_target_problem(target); !problem.empty()) return fail(target, problem);
    std::error_code ec;
    const fs::path resolved = resolved_target(target, ec);
    if (ec) return fail(target, ec.message());
    fs::path dir = resolved.parent_path();
    if (dir.empty()) dir = ".";

    // "x": never open a file some other program created under the same name.
    std::FILE* out = nullptr;
    fs::path temporary;
    for (int attempt = 0; attempt < 16 && out == nullptr; ++attempt) {
        temporary = temporary_name(dir);
        errno = 0;
        out = std::fopen(temporary.c_str(), "wbx");
        if (out == nullptr && errno != EEXIST) break;
    }
    if (out == nullptr) return fail(target, errno != 0 ? errno_text(errno) : "cannot create a file beside it");

    errno = 0;
    bool written = std::fwrite(bytes.data(), 1, bytes.size(), out) == bytes.size();
    written = std::fflush(out) == 0 && written;
    // A full disk often shows only when the last bytes leave the buffer, so
    // the close is checked too.
    const int write_errno = errno;
    written = std::fclose(out) == 0 && written;
    if (!written) {
        const int code = write_errno != 0 ? write_errno : errno;
        fs::remove(temporary, ec);
        return fail(target, code != 0 ? errno_text(code) : "write failed");
    }
    // Keep the permissions of the file being replaced.
    const auto existing = fs::status(resolved, ec);
    if (!ec && fs::is_regular_file(existing))
        fs::permissions(temporary, existing.permissions(), fs::perm_options::replace, ec);
    m_staged.push_back({resolved, temporary});
    return true;
}

bool OutputFiles::commit()
{
    if (!m_error.empty()) return false;
    std::error_code ec;
    while (!m_staged.empty()) {
        const Staged s = m_staged.front();
        fs::rename(s.temporary, s.target, ec);
        if (ec) return fail(s.target, ec.message());
        m_staged.erase(m_staged.begin());
    }
    return true;
}

bool write_file_atomically(const fs::path& target, std::span<const std::uint8_t> bytes, std::string& error)
{
    OutputFiles files;
    const bool ok = files.stage(target, bytes) && files.commit();
    if (!ok) error = files.error();
    return ok;
}

}  // namespace tk770
