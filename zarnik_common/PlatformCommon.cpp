// The parts of the file layer that are the same on every platform.
#include "PlatformCommon.h"

#include <atomic>
#include <filesystem>
#include <system_error>
#ifdef _WIN32
#include <io.h>
#else
#include <unistd.h>
#endif

namespace zarnik {

thread_local PlatformError platform_common::t_lastError = PlatformError::None;
thread_local long platform_common::t_lastCode = 0;

PlatformError PlatformLastError()
{
    return platform_common::t_lastError;
}

PlatformFailure PlatformLastFailure()
{
    using platform_common::t_lastError;
    PlatformFailure failure;
    failure.kind = t_lastError;
    if (platform_common::t_lastCode != 0) {
        failure.text = platform_common::SystemErrorText(platform_common::t_lastCode);
        return failure;
    }
    // Found by the layer itself, without a code of the system's: in the
    // order of PlatformError.
    static const char *const kTexts[] = {
        "no error", "not found", "something already stands there", "not a regular file",
        "a link stands there", "the disk is full or read-only", "the file is too large",
        "an unsafe name, or one Windows would misread", "another program holds it",
        "the operation failed"};
    static_assert(sizeof kTexts / sizeof kTexts[0] == size_t(PlatformError::Other) + 1,
                  "a text for every kind");
    failure.text = kTexts[size_t(t_lastError)];
    return failure;
}

namespace {

std::atomic<PlatformFaultCall> g_Fault{nullptr};

} // namespace

PlatformFaultCall SetPlatformFault(PlatformFaultCall call)
{
    return g_Fault.exchange(call);
}

bool platform_common::Injected(PlatformStep step, const std::string &name)
{
    const PlatformFaultCall fault = g_Fault.load();
    return fault && fault(step, name) && FailWith(PlatformError::Other, true);
}

uint32_t PlatformReadAt(PlatformFile *file, uint64_t position, void *buffer, uint32_t count)
{
    if (!file)
        return 0;
    uint32_t done = 0;
    while (done < count) {
        const uint32_t n = platform_common::ReadOnce(file, position + done,
                                                     static_cast<char *>(buffer) + done, count - done);
        if (n == 0)
            break;
        done += n;
    }
    return done;
}

std::string PlatformNameOf(const std::string &path)
{
    namespace fs = std::filesystem;
    std::error_code ec;
    fs::path absolute = fs::absolute(fs::u8path(path), ec);
    if (ec)
        absolute = fs::u8path(path);
    absolute = absolute.lexically_normal();
    // "a/b/" ends in an empty name: the folder's is the one before it.
    if (!absolute.has_filename() && absolute.has_relative_path())
        absolute = absolute.parent_path();
    return absolute.has_relative_path() ? absolute.filename().u8string() : std::string();
}

std::string PlatformWhyUnreadable(const std::string &path)
{
    namespace fs = std::filesystem;
    const fs::path native = fs::u8path(path);
    std::error_code ec;
    const fs::file_status status = fs::status(native, ec);
    if (!fs::exists(status))
        return "no such file";
    if (fs::is_directory(status))
        return "it is a directory";
    if (!fs::is_regular_file(status))
        return "not a regular file";
#ifdef _WIN32
    if (_waccess(native.c_str(), 4) != 0)
#else
    if (access(native.c_str(), R_OK) != 0)
#endif
        return "not readable (permission denied)";
    const uintmax_t size = fs::file_size(native, ec);
    if (!ec && size == 0)
        return "the file is empty";
    if (!ec && size >= (uintmax_t(1) << 32))
        return "the file is 4 GiB or larger, more than a pack can address";
    return "the file cannot be read";
}

} // namespace zarnik
