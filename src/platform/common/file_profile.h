// The profile functions over real files, for builds without the Windows ones. Paths are file
// system paths (bytes). Reads follow the INI rules of ini_document.h and understand a file
// that starts with a UTF-8 or UTF-16 byte-order mark; a write keeps that encoding.
//
// How a write treats the file the user has:
//  - a symbolic link is followed to the file it names, which is written (or created);
//  - a file whose owner took its write permission away, or that is not a regular file, is
//    left alone and the write fails;
//  - otherwise the new text goes to a temporary file beside the target, with the target's
//    mode and owner, which is then renamed over it, so a crash leaves the old or the new file;
//  - a file with further hard links, one whose owner cannot be given to a new file, or one in
//    a folder that takes no new file, is rewritten in place; where the folder allows, a copy
//    of the old text is kept beside it until the rewrite is on disk, and whoever finds such a
//    copy first puts it back (a rewrite that was cut off).
// New files get the mode the process's umask leaves of 0666.
#pragma once

#include "platform/profile_file.h"

namespace vexlo {

class FileProfile : public ProfileFile {
  public:
    std::string getString(const std::string& section, const std::string& key,
                          const std::string& defaultValue, std::uint32_t size,
                          const std::string& path) override;
    std::int32_t writeString(const std::string& section, const std::string& key,
                             const std::string& value, const std::string& path) override;
};

namespace profile_text {

// How a profile file's bytes are turned into the text the INI rules work on and back.
enum class Encoding { Bytes, Utf8WithMark, Utf16LE, Utf16BE };

struct Decoded {
    Encoding encoding = Encoding::Bytes;
    std::string text;  // UTF-8 for the marked encodings; the bytes themselves otherwise
    std::string rest;  // a last odd byte of a UTF-16 file, kept as it was
};

Decoded Decode(const std::string& bytes);
// The bytes of text in the encoding (and with the mark) the file had. Encode(Decode(b)) == b
// for every b.
std::string Encode(const Decoded& file, const std::string& text);

}  // namespace profile_text

}  // namespace vexlo
