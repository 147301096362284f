// A file's bytes mapped read-only: a file check walks them without copying the file, and only
// the pages it looks at are read.
#pragma once

#include <cstddef>
#include <string>

namespace vexlo::linux_platform {

class MappedFile {
  public:
    explicit MappedFile(const std::string& path);
    ~MappedFile();
    MappedFile(const MappedFile&) = delete;
    MappedFile& operator=(const MappedFile&) = delete;

    // Why the file could not be mapped (the system's words); empty when it was. An empty file
    // maps to no bytes.
    const std::string& error() const { return error_; }
    // The path names a folder (error() says so in English).
    bool folder() const { return folder_; }
    const unsigned char* data() const { return data_; }
    std::size_t size() const { return size_; }

  private:
    const unsigned char* data_ = nullptr;
    std::size_t size_ = 0;
    std::string error_;
    bool folder_ = false;
};

}  // namespace vexlo::linux_platform
