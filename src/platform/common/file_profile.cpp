#include "platform/common/file_profile.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <ctime>

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
// Temporary files are named ".<file>.vexlo-XXXXXX" beside the file, so that what a write
// killed half-way left behind can be told from the user's own files and removed later.
std::string TempPrefix(const std::string& path) {
    const std::size_t slash = path.rfind('/');
    const std::string folder = slash == std::string::npos ? "" : path.substr(0, slash + 1);
    const std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
    return folder + "." + name + ".vexlo-";
}

// Removes temporary files of earlier writes that did not finish (older than a minute, so a
// write in progress in another process is left alone).
void RemoveStaleTemps(const std::string& path) {
    const std::string prefix = TempPrefix(path);
    const std::size_t slash = prefix.rfind('/');
    const std::string folder = slash == std::string::npos ? "." : prefix.substr(0, slash);
    const std::string start = prefix.substr(slash == std::string::npos ? 0 : slash + 1);
    DIR* dir = ::opendir(folder.c_str());
    if (!dir) return;
    const std::time_t now = std::time(nullptr);
    while (const dirent* entry = ::readdir(dir)) {
        const std::string name = entry->d_name;
        if (name.size() != start.size() + 6 || name.compare(0, start.size(), start) != 0) continue;
        const std::string full = folder + "/" + name;
        struct stat st {};
        if (::lstat(full.c_str(), &st) == 0 && S_ISREG(st.st_mode) && now - st.st_mtime > 60) {
            ::unlink(full.c_str());
        }
    }
    ::closedir(dir);
}

// Makes a rename in the folder durable.
void SyncFolder(const std::string& path) {
    const std::size_t slash = path.rfind('/');
    const std::string folder = slash == std::string::npos ? "." : path.substr(0, slash);
    const int fd =
        ::open(folder.empty() ? "/" : folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) return;
    ::fsync(fd);
    ::close(fd);
}

bool ReplaceFile(const std::string& path, const std::string& text) {
    RemoveStaleTemps(path);
    std::string temp = TempPrefix(path) + "XXXXXX";
    const int fd = ::mkstemp(temp.data());
    if (fd < 0) return false;
    struct stat st {};
    ::fchmod(fd, ::stat(path.c_str(), &st) == 0 ? (st.st_mode & 07777) : 0644);
    const bool ok = WriteAll(fd, text) && ::fsync(fd) == 0;
    if (::close(fd) != 0 || !ok || ::rename(temp.c_str(), path.c_str()) != 0) {
        ::unlink(temp.c_str());
        return false;
    }
    SyncFolder(path);
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
