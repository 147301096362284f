// Fuzzes the INI rules: any text, section, key and value. Nothing may crash, and a write must
// set its key and leave every other key of the file reading as before. The file encodings
// (byte-order marks, UTF-16) must give back every file's bytes as they were.
#include <cctype>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "platform/common/file_profile.h"
#include "platform/common/ini_document.h"

namespace {

// A plain name from a byte: what the program's own section and key names look like.
std::string Name(std::uint8_t b) {
    static const char* names[] = {"general", "pos", "mixer", "x", "y", "ontop", "Pos", "X"};
    return names[b % 8];
}

void Check(bool condition) {
    if (!condition) std::abort();
}

bool Same(const std::string& a, const std::string& b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        if (std::tolower(static_cast<unsigned char>(a[i])) !=
            std::tolower(static_cast<unsigned char>(b[i]))) {
            return false;
        }
    }
    return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using vexlo::ini::Lookup;
    using vexlo::ini::Update;
    if (size < 4) return 0;
    const std::string section = Name(data[0]);
    const std::string key = Name(data[1]);
    const std::string otherKey = Name(data[2]);
    const std::string value = std::to_string(data[3] * 37);
    const std::string text(reinterpret_cast<const char*>(data) + 4, size - 4);

    // Arbitrary names and values must not crash either.
    const std::size_t third = text.size() / 3;
    Lookup(text, text.substr(0, third), text.substr(third));
    Update(text, text.substr(0, third), text.substr(third, third), text.substr(2 * third));

    const std::string updated = Update(text, section, key, value);
    Check(Lookup(updated, section, key) == value);
    if (!Same(otherKey, key)) {
        Check(Lookup(updated, section, otherKey) == Lookup(text, section, otherKey));
    }
    for (const char* other : {"general", "pos", "mixer"}) {
        if (!Same(other, section)) Check(Lookup(updated, other, key) == Lookup(text, other, key));
    }

    const auto file = vexlo::profile_text::Decode(text);
    Check(vexlo::profile_text::Encode(file, file.text) == text);
    const auto saved = vexlo::profile_text::Decode(
        vexlo::profile_text::Encode(file, Update(file.text, section, key, value)));
    Check(saved.encoding == file.encoding && Lookup(saved.text, section, key) == value);
    return 0;
}
