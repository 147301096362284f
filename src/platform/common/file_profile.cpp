#include "platform/common/file_profile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "platform/common/ini_document.h"

namespace vexlo {

std::string NativePath(const std::string& path) {
    std::string native = path;
    for (char& c : native) {
        if (c == '\\') c = '/';
    }
    return native;
}

namespace {

bool ReadWholeFile(const std::string& path, std::string& text) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return false;
    text.clear();
    char buffer[65536];
    bool ok = true;
    for (;;) {
        const ssize_t n = ::read(fd, buffer, sizeof buffer);
        if (n == 0) break;
        if (n < 0) {
            if (errno == EINTR) continue;
            ok = false;  // a folder, or a file the system cannot read
            break;
        }
        text.append(buffer, static_cast<std::size_t>(n));
    }
    ::close(fd);
    return ok;
}

bool WriteAll(int fd, const std::string& text) {
    std::size_t done = 0;
    while (done < text.size()) {
        const ssize_t n = ::write(fd, text.data() + done, text.size() - done);
        if (n < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        done += static_cast<std::size_t>(n);
    }
    return true;
}

// Writes the text beside the file and renames it over the file.
bool ReplaceFile(const std::string& path, const std::string& text) {
    std::string temp = path + ".XXXXXX";
    const int fd = ::mkstemp(temp.data());
    if (fd < 0) return false;
    struct stat st {};
    ::fchmod(fd, ::stat(path.c_str(), &st) == 0 ? (st.st_mode & 07777) : 0644);
    const bool ok = WriteAll(fd, text) && ::fsync(fd) == 0;
    if (::close(fd) != 0 || !ok || ::rename(temp.c_str(), path.c_str()) != 0) {
        ::unlink(temp.c_str());
        return false;
    }
    return true;
}

}  // namespace

std::string FileProfile::getString(const std::string& section, const std::string& key,
                                   const std::string& defaultValue, std::uint32_t size,
                                   const std::string& path) {
    std::string text;
    std::string value = defaultValue;
    if (ReadWholeFile(NativePath(path), text)) {
        if (auto found = ini::Lookup(text, section, key)) value = std::move(*found);
    }
    if (size == 0) return {};
    if (value.size() > size - 1) value.resize(size - 1);
    return value;
}

std::int32_t FileProfile::writeString(const std::string& section, const std::string& key,
                                      const std::string& value, const std::string& path) {
    const std::string native = NativePath(path);
    std::string text;
    if (!ReadWholeFile(native, text)) {
        // A file that exists but cannot be read is left alone rather than replaced.
        if (::access(native.c_str(), F_OK) == 0) return 0;
        text.clear();
    }
    return ReplaceFile(native, ini::Update(text, section, key, value)) ? 1 : 0;
}

}  // namespace vexlo
