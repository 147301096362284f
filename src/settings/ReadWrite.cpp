#include "settings/ReadWrite.h"

#include <cctype>
#include <charconv>
#include <cmath>
#include <limits>

#include "controller/errors.h"
#include "platform/types.h"

namespace vexlo {

ReadWrite::ReadWrite(ProfileFile& profile, ProgramInfo& program, MessageBoxes& messageBox,
                     const Texts& texts)
    : profile_(profile), program_(program), messageBox_(messageBox), texts_(texts) {}

void ReadWrite::SetIniPath(const std::string& name) {
    iniPath_ = program_.settingsFolder() + "\\" + name;
}

std::string ReadWrite::ReadIni(const std::string& section, const std::string& key) {
    return ReadIni(section, key, "1");
}

std::string ReadWrite::ReadIni(const std::string& section, const std::string& key,
                               const std::string& missing) {
    std::string value = profile_.getString(section, key, missing, kIniBufferSize, iniPath_);
    if (value.size() > kIniBufferSize - 1) value.resize(kIniBufferSize - 1);
    return value;
}

std::int32_t ReadWrite::WriteIni(const std::string& section, const std::string& key,
                                 const std::string& value) {
    if (key.size() > kIniMaxLength || value.size() > kIniMaxLength) {
        messageBox_.show(
            Fill(Tr(texts_, "Can't write more than {count} characters for key or value."),
                 {{"count", std::to_string(kIniMaxLength)}}),
            kAppTitle, MB_OK);
        return -1;
    }
    return profile_.writeString(section, key, value, iniPath_);
}

namespace {

[[noreturn]] void TypeMismatch(const Texts& texts, const SettingKey& key, const std::string& text) {
    throw FatalError(Fill(Tr(texts,
                             "Type mismatch: the setting \"{key}\" in section \"{section}\" "
                             "of core.ini is \"{value}\", which is not a number."),
                          {{"key", key.key}, {"section", key.section}, {"value", text}}));
}

}  // namespace

bool ReadWrite::IsOn(const SettingKey& key) {
    const std::string text = Read(key);
    double value = 0;
    if (!ParseNumber(text, value)) TypeMismatch(texts_, key, text);
    return value == 1.0;
}

float ReadWrite::Position(const SettingKey& key) {
    const std::string text = Read(key);
    double value = 0;
    if (!ParseNumber(text, value)) TypeMismatch(texts_, key, text);
    if (!(std::fabs(value) <= std::numeric_limits<float>::max())) {
        throw FatalError(
            Fill(Tr(texts_,
                    "Overflow: the setting \"{key}\" in section \"{section}\" of core.ini "
                    "is \"{value}\", which is too large for a position."),
                 {{"key", key.key}, {"section", key.section}, {"value", text}}));
    }
    return static_cast<float>(value);
}

bool ParseNumber(const std::string& text, double& value) {
    std::size_t i = 0;
    const std::size_t n = text.size();
    auto blank = [&](std::size_t at) { return text[at] == ' ' || text[at] == '\t'; };
    while (i < n && blank(i)) ++i;
    std::size_t end = n;
    while (end > i && blank(end - 1)) --end;
    const std::size_t start = i;
    if (i < end && (text[i] == '+' || text[i] == '-')) ++i;
    std::size_t digits = 0;
    while (i < end && std::isdigit(static_cast<unsigned char>(text[i]))) ++i, ++digits;
    if (i < end && text[i] == '.') {
        ++i;
        while (i < end && std::isdigit(static_cast<unsigned char>(text[i]))) ++i, ++digits;
    }
    if (digits == 0) return false;
    if (i < end && (text[i] == 'e' || text[i] == 'E')) {
        ++i;
        if (i < end && (text[i] == '+' || text[i] == '-')) ++i;
        std::size_t expDigits = 0;
        while (i < end && std::isdigit(static_cast<unsigned char>(text[i]))) ++i, ++expDigits;
        if (expDigits == 0) return false;
    }
    if (i != end) return false;
    // from_chars reads the same grammar whatever the locale; it takes no leading '+'.
    const char* first = text.data() + start + (text[start] == '+' ? 1 : 0);
    const auto [ptr, ec] = std::from_chars(first, text.data() + end, value);
    if (ec == std::errc::result_out_of_range) {
        // Out of range: huge magnitudes count as infinite, tiny ones as zero.
        const bool negative = text[start] == '-';
        const bool huge = [&] {
            const std::size_t e = text.find_first_of("eE", start);
            return e == std::string::npos || text.find('-', e) == std::string::npos;
        }();
        value = huge ? std::numeric_limits<double>::infinity() : 0.0;
        if (negative) value = -value;
        return true;
    }
    return ec == std::errc() && ptr == text.data() + end;
}

bool ReadMonitorChoice(const std::string& text, MonitorChoice& choice) {
    choice = MonitorChoice::Primary;
    const auto first = text.find_first_not_of(" \t");
    if (first == std::string::npos) return true;
    std::string word = text.substr(first, text.find_last_not_of(" \t") - first + 1);
    for (char& c : word) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    if (word == "primary") return true;
    if (word == "pointer") {
        choice = MonitorChoice::Pointer;
        return true;
    }
    if (word == "active") {
        choice = MonitorChoice::Active;
        return true;
    }
    return false;
}

std::string FormatSingle(float value) {
    char buffer[32];
    const auto result =
        std::to_chars(buffer, buffer + sizeof buffer, value, std::chars_format::general, 7);
    std::string text(buffer, result.ptr);
    if (text == "-0") text = "0";
    return text;
}

}  // namespace vexlo
