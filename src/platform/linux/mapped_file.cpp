#include "platform/linux/mapped_file.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace vexlo::linux_platform {

MappedFile::MappedFile(const std::string& path) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        error_ = std::strerror(errno);
        return;
    }
    struct stat st {};
    if (::fstat(fd, &st) != 0) {
        error_ = std::strerror(errno);
    } else if (S_ISDIR(st.st_mode)) {
        error_ = "it is a folder, not a file";
        folder_ = true;
    } else if (st.st_size > 0) {
        size_ = static_cast<std::size_t>(st.st_size);
        void* data = ::mmap(nullptr, size_, PROT_READ, MAP_PRIVATE, fd, 0);
        if (data == MAP_FAILED) {
            error_ = std::strerror(errno);
            size_ = 0;
        } else {
            data_ = static_cast<const unsigned char*>(data);
        }
    }
    ::close(fd);
}

MappedFile::~MappedFile() {
    if (data_) ::munmap(const_cast<unsigned char*>(data_), size_);
}

}  // namespace vexlo::linux_platform
