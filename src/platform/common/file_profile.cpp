#include "platform/common/file_profile.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <ctime>
#include <functional>

#include "platform/common/ini_document.h"

namespace vexlo {

// ---- Encodings ---------------------------------------------------------------------------

namespace profile_text {

namespace {

void AppendUtf8(std::string& out, std::uint32_t c) {
    if (c < 0x80) {
        out += static_cast<char>(c);
    } else if (c < 0x800) {
        out += static_cast<char>(0xC0 | (c >> 6));
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
        out += static_cast<char>(0xE0 | (c >> 12));
        out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (c >> 18));
        out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    }
}

void AppendUnit(std::string& out, std::uint32_t unit, bool bigEndian) {
    const char high = static_cast<char>(unit >> 8), low = static_cast<char>(unit & 0xFF);
    out += bigEndian ? high : low;
    out += bigEndian ? low : high;
}

}  // namespace

Decoded Decode(const std::string& bytes) {
    Decoded file;
    if (bytes.compare(0, 3, "\xEF\xBB\xBF") == 0) {
        file.encoding = Encoding::Utf8WithMark;
        file.text = bytes.substr(3);
        return file;
    }
    const bool le = bytes.compare(0, 2, "\xFF\xFE") == 0, be = bytes.compare(0, 2, "\xFE\xFF") == 0;
    if (!le && !be) {
        file.text = bytes;
        return file;
    }
    file.encoding = le ? Encoding::Utf16LE : Encoding::Utf16BE;
    const std::size_t units = (bytes.size() - 2) / 2;
    auto unit = [&](std::size_t i) -> std::uint32_t {
        const auto a = static_cast<unsigned char>(bytes[2 + 2 * i]);
        const auto b = static_cast<unsigned char>(bytes[3 + 2 * i]);
        return le ? (b << 8 | a) : (a << 8 | b);
    };
    for (std::size_t i = 0; i < units; ++i) {
        const std::uint32_t u = unit(i);
        if (u >= 0xD800 && u < 0xDC00 && i + 1 < units && unit(i + 1) >= 0xDC00 &&
            unit(i + 1) < 0xE000) {
            AppendUtf8(file.text, 0x10000 + ((u - 0xD800) << 10) + (unit(i + 1) - 0xDC00));
            ++i;
        } else {
            AppendUtf8(file.text, u);  // a lone surrogate is kept as its own three bytes
        }
    }
    if ((bytes.size() - 2) % 2 != 0) file.rest = bytes.substr(bytes.size() - 1);
    return file;
}

std::string Encode(const Decoded& file, const std::string& text) {
    if (file.encoding == Encoding::Bytes) return text;
    if (file.encoding == Encoding::Utf8WithMark) return "\xEF\xBB\xBF" + text;
    const bool be = file.encoding == Encoding::Utf16BE;
    std::string out = be ? "\xFE\xFF" : "\xFF\xFE";
    for (std::size_t i = 0; i < text.size();) {
        const auto lead = static_cast<unsigned char>(text[i]);
        const int length = lead < 0x80    ? 1
                           : lead >= 0xF0 ? 4
                           : lead >= 0xE0 ? 3
                           : lead >= 0xC0 ? 2
                                          : 0;
        std::uint32_t c = lead;
        bool whole = length > 0 && i + length <= text.size();
        if (whole && length > 1) {
            c = lead & (0x7F >> length);
            for (int k = 1; k < length; ++k) {
                const auto next = static_cast<unsigned char>(text[i + k]);
                whole = whole && (next & 0xC0) == 0x80;
                c = c << 6 | (next & 0x3F);
            }
        }
        if (!whole) {
            AppendUnit(out, lead, be);  // a stray byte stands for the character of its value
            ++i;
            continue;
        }
        if (c >= 0x10000) {
            AppendUnit(out, 0xD800 + ((c - 0x10000) >> 10), be);
            AppendUnit(out, 0xDC00 + ((c - 0x10000) & 0x3FF), be);
        } else {
            AppendUnit(out, c, be);
        }
        i += static_cast<std::size_t>(length);
    }
    return out + file.rest;
}

}  // namespace profile_text

// ---- Files -------------------------------------------------------------------------------

namespace {

std::string FolderOf(const std::string& path) {
    const std::size_t slash = path.rfind('/');
    if (slash == std::string::npos) return ".";
    return slash == 0 ? "/" : path.substr(0, slash);
}

std::string NameOf(const std::string& path) {
    const std::size_t slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

// The file a path finally names: symbolic links followed, also to a file that does not exist
// yet. False for a loop of links.
bool FinalTarget(const std::string& path, std::string& target) {
    target = path;
    for (int depth = 0; depth < 40; ++depth) {
        struct stat st {};
        if (::lstat(target.c_str(), &st) != 0 || !S_ISLNK(st.st_mode)) return true;
        std::string link(PATH_MAX, '\0');
        const ssize_t n = ::readlink(target.c_str(), link.data(), link.size());
        if (n <= 0 || static_cast<std::size_t>(n) >= link.size()) return false;
        link.resize(static_cast<std::size_t>(n));
        const std::size_t slash = target.rfind('/');
        target = link.front() == '/' || slash == std::string::npos
                     ? link
                     : target.substr(0, slash + 1) + link;
    }
    return false;
}

bool ReadAll(int fd, std::string& text) {
    text.clear();
    char buffer[65536];
    for (;;) {
        const ssize_t n = ::read(fd, buffer, sizeof buffer);
        if (n == 0) return true;
        if (n < 0) {
            if (errno == EINTR) continue;
            return false;  // a folder, or a file the system cannot read
        }
        text.append(buffer, static_cast<std::size_t>(n));
    }
}

bool WriteAll(int fd, const std::string& text, off_t at = -1) {
    std::size_t done = 0;
    while (done < text.size()) {
        const ssize_t n = at < 0 ? ::write(fd, text.data() + done, text.size() - done)
                                 : ::pwrite(fd, text.data() + done, text.size() - done,
                                            at + static_cast<off_t>(done));
        if (n < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        done += static_cast<std::size_t>(n);
    }
    return true;
}

// Reads a regular file; anything else (a folder, a device, a pipe) is no profile file.
bool ReadRegularFile(const std::string& path, std::string& text) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) return false;
    struct stat st {};
    bool ok = ::fstat(fd, &st) == 0 && S_ISREG(st.st_mode);
    if (ok) {
        ::flock(fd, LOCK_SH);  // waits for a rewrite in place to end
        ok = ReadAll(fd, text);
    }
    ::close(fd);
    return ok;
}

// Temporary files are named ".<file>.vexlo-XXXXXX" beside the file, so that what a write
// killed half-way left behind can be told from the user's own files and removed later.
std::string TempName(const std::string& path) {
    return "." + NameOf(path) + ".vexlo-";
}
std::string TempPrefix(const std::string& path) {
    return path.substr(0, path.size() - NameOf(path).size()) + TempName(path);
}

// The old text of a file being rewritten in place.
std::string SavedCopy(const std::string& path) {
    return TempPrefix(path) + "old";
}

// Removes temporary files of earlier writes that did not finish (older than a minute, so a
// write in progress in another process is left alone).
void RemoveStaleTemps(const std::string& path) {
    const std::string folder = FolderOf(path);
    const std::string start = TempName(path);
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

// Makes a rename or removal in the folder durable.
void SyncFolder(const std::string& path) {
    const int fd = ::open(FolderOf(path).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) return;
    ::fsync(fd);
    ::close(fd);
}

// A new file beside path with the text, on disk, named in temp; with owner's owner when given.
// False with errno set when it cannot be made.
bool WriteTemp(const std::string& path, const std::string& text, mode_t mode, std::string& temp,
               const struct stat* owner) {
    temp = TempPrefix(path) + "XXXXXX";
    const int fd = ::mkstemp(temp.data());
    if (fd < 0) return false;
    bool ok = ::fchmod(fd, mode) == 0;
    if (ok && owner && (owner->st_uid != ::geteuid() || owner->st_gid != ::getegid())) {
        ok = ::fchown(fd, owner->st_uid, owner->st_gid) == 0 && ::fchmod(fd, mode) == 0;
    }
    ok = ok && WriteAll(fd, text) && ::fsync(fd) == 0;
    const int saved = errno;
    if (::close(fd) != 0 || !ok) {
        ::unlink(temp.c_str());
        errno = saved;
        return false;
    }
    return true;
}

// What the umask leaves of 0666. Read from the process's status where the system gives it, as
// setting the umask to read it would be seen by every thread for a moment.
mode_t NewFileMode() {
    std::string status;
    const int fd = ::open("/proc/self/status", O_RDONLY | O_CLOEXEC);
    const bool read = fd >= 0 && ReadAll(fd, status);
    if (fd >= 0) ::close(fd);
    const std::size_t at = read ? status.find("\nUmask:") : std::string::npos;
    mode_t mask = 0;
    if (at != std::string::npos) {
        mask = static_cast<mode_t>(std::strtoul(status.c_str() + at + 7, nullptr, 8));
    } else {
        mask = ::umask(0);
        ::umask(mask);
    }
    return 0666 & ~mask & 0777;
}

using Change = std::function<std::string(const std::string&)>;

// Makes the open file hold text and nothing else, on disk.
bool Replace(int fd, const std::string& text) {
    return WriteAll(fd, text, 0) && ::ftruncate(fd, static_cast<off_t>(text.size())) == 0 &&
           ::fsync(fd) == 0;
}

// Rewrites the file in place under a lock, with the old text kept beside it while the
// rewrite is under way when keepCopy.
bool RewriteInPlace(const std::string& path, const Change& change, bool keepCopy) {
    const int fd = ::open(path.c_str(), O_RDWR | O_CLOEXEC);
    if (fd < 0) return false;
    std::string before;
    bool ok = ::flock(fd, LOCK_EX) == 0 && ReadAll(fd, before);
    const std::string after = ok ? change(before) : std::string();
    std::string temp;
    const std::string copy = SavedCopy(path);
    if (ok && keepCopy) {
        if (!WriteTemp(path, before, 0600, temp, nullptr)) {
            // A folder that takes no new file: without a copy, as the only way left.
            keepCopy = false;
            ok = errno == EACCES || errno == EROFS;
        } else if (::rename(temp.c_str(), copy.c_str()) != 0) {
            ::unlink(temp.c_str());
            ok = false;
        } else {
            SyncFolder(path);
        }
    }
    ok = ok && Replace(fd, after);
    if (ok && keepCopy) {
        ::unlink(copy.c_str());
        SyncFolder(path);
    }
    ::close(fd);
    return ok;
}

// A copy of the old text beside the file means a rewrite in place was cut off: it is put back.
void RestoreCutOffRewrite(const std::string& path) {
    const std::string copy = SavedCopy(path);
    struct stat st {};
    if (::lstat(copy.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) return;
    const int fd = ::open(path.c_str(), O_RDWR | O_CLOEXEC);
    if (fd < 0) return;
    std::string old;
    if (::flock(fd, LOCK_EX) == 0 && ReadRegularFile(copy, old) && Replace(fd, old)) {
        ::unlink(copy.c_str());
        SyncFolder(path);
    }
    ::close(fd);
}

bool WriteFile(const std::string& path, const Change& change) {
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0) {
        if (errno != ENOENT) return false;
        // A new file.
        std::string temp;
        if (!WriteTemp(path, change(""), NewFileMode(), temp, nullptr)) return false;
        if (::rename(temp.c_str(), path.c_str()) != 0) {
            ::unlink(temp.c_str());
            return false;
        }
        SyncFolder(path);
        return true;
    }
    // Only a regular file is ever written, and not one its owner made read-only.
    if (!S_ISREG(st.st_mode)) return false;
    if ((st.st_mode & S_IWUSR) == 0 || ::access(path.c_str(), W_OK) != 0) return false;
    if (st.st_nlink > 1) return RewriteInPlace(path, change, true);

    std::string before;
    if (!ReadRegularFile(path, before)) return false;
    std::string temp;
    if (!WriteTemp(path, change(before), st.st_mode & 07777, temp, &st)) {
        // A folder that takes no new file: in place, without a copy. A new file that could not
        // be given the file's owner: in place, with one.
        if (errno == EACCES || errno == EROFS) return RewriteInPlace(path, change, false);
        if (errno == EPERM) return RewriteInPlace(path, change, true);
        return false;
    }
    if (::rename(temp.c_str(), path.c_str()) != 0) {
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
    std::string target, bytes;
    std::string value = defaultValue;
    if (FinalTarget(path, target)) {
        RestoreCutOffRewrite(target);
        if (ReadRegularFile(target, bytes)) {
            const auto file = profile_text::Decode(bytes);
            if (auto found = ini::Lookup(file.text, section, key)) value = std::move(*found);
        }
    }
    if (size == 0) return {};
    if (value.size() > size - 1) value.resize(size - 1);
    return value;
}

std::int32_t FileProfile::writeString(const std::string& section, const std::string& key,
                                      const std::string& value, const std::string& path) {
    std::string target;
    if (!FinalTarget(path, target)) return 0;
    RestoreCutOffRewrite(target);
    RemoveStaleTemps(target);
    const Change change = [&](const std::string& bytes) {
        const auto file = profile_text::Decode(bytes);
        return profile_text::Encode(file, ini::Update(file.text, section, key, value));
    };
    return WriteFile(target, change) ? 1 : 0;
}

}  // namespace vexlo
