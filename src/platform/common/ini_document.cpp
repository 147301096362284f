#include "platform/common/ini_document.h"

#include <cctype>
#include <string_view>
#include <vector>

namespace vexlo::ini {

namespace {

struct Line {
    std::string_view body;  // without its line ending
    std::size_t begin;      // offset of the line in the text
    std::size_t end;        // offset just past its line ending
};

std::vector<Line> SplitLines(const std::string& text) {
    std::vector<Line> lines;
    std::size_t pos = 0;
    while (pos < text.size()) {
        std::size_t nl = text.find('\n', pos);
        const std::size_t next = nl == std::string::npos ? text.size() : nl + 1;
        std::size_t bodyEnd = nl == std::string::npos ? text.size() : nl;
        if (bodyEnd > pos && text[bodyEnd - 1] == '\r') --bodyEnd;
        lines.push_back({std::string_view(text).substr(pos, bodyEnd - pos), pos, next});
        pos = next;
    }
    return lines;
}

bool IsBlank(char c) {
    return c == ' ' || c == '\t';
}

std::string_view Trim(std::string_view s) {
    while (!s.empty() && IsBlank(s.front())) s.remove_prefix(1);
    while (!s.empty() && IsBlank(s.back())) s.remove_suffix(1);
    return s;
}

bool SameName(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        if (std::tolower(static_cast<unsigned char>(a[i])) !=
            std::tolower(static_cast<unsigned char>(b[i]))) {
            return false;
        }
    }
    return true;
}

// The name of a section header line, or nullopt for any other line.
std::optional<std::string_view> SectionName(std::string_view line) {
    line = Trim(line);
    if (line.size() < 2 || line.front() != '[') return std::nullopt;
    const std::size_t close = line.find(']');
    if (close == std::string_view::npos) return std::nullopt;
    return Trim(line.substr(1, close - 1));
}

struct Entry {
    std::string_view key;
    std::string_view value;
};

std::optional<Entry> KeyValue(std::string_view line) {
    const std::string_view trimmed = Trim(line);
    if (trimmed.empty() || trimmed.front() == ';') return std::nullopt;
    const std::size_t eq = trimmed.find('=');
    if (eq == std::string_view::npos) return std::nullopt;
    return Entry {Trim(trimmed.substr(0, eq)), Trim(trimmed.substr(eq + 1))};
}

// Where the lines of a section lie: the header line and one past its last line.
struct SectionSpan {
    std::size_t header;
    std::size_t end;
};

std::optional<SectionSpan> FindSection(const std::vector<Line>& lines, const std::string& section) {
    for (std::size_t i = 0; i < lines.size(); ++i) {
        const auto name = SectionName(lines[i].body);
        if (!name || !SameName(*name, section)) continue;
        std::size_t end = i + 1;
        while (end < lines.size() && !SectionName(lines[end].body)) ++end;
        return SectionSpan {i, end};
    }
    return std::nullopt;
}

// The file's own line ending, taken from its first line; LF for a file without one.
std::string LineEnding(const std::string& text) {
    const std::size_t nl = text.find('\n');
    return nl != std::string::npos && nl > 0 && text[nl - 1] == '\r' ? "\r\n" : "\n";
}

// What ends the text's last line before another is added after it.
std::string Completion(const std::string& text, const std::string& eol) {
    if (text.empty() || text.back() == '\n') return "";
    return text.back() == '\r' ? "\n" : eol;
}

}  // namespace

std::optional<std::string> Lookup(const std::string& text, const std::string& section,
                                  const std::string& key) {
    const auto lines = SplitLines(text);
    const auto span = FindSection(lines, section);
    if (!span) return std::nullopt;
    for (std::size_t i = span->header + 1; i < span->end; ++i) {
        const auto entry = KeyValue(lines[i].body);
        if (!entry || !SameName(entry->key, key)) continue;
        std::string_view value = entry->value;
        if (value.size() >= 2 && (value.front() == '"' || value.front() == '\'') &&
            value.back() == value.front()) {
            value = value.substr(1, value.size() - 2);
        }
        return std::string(value);
    }
    return std::nullopt;
}

std::string Update(const std::string& text, const std::string& section, const std::string& key,
                   const std::string& value) {
    const std::string eol = LineEnding(text);
    const auto lines = SplitLines(text);
    const std::string entry = key + "=" + value;
    const auto span = FindSection(lines, section);
    if (span) {
        for (std::size_t i = span->header + 1; i < span->end; ++i) {
            const auto kv = KeyValue(lines[i].body);
            if (!kv || !SameName(kv->key, key)) continue;
            // Replace the line's body, keep its ending and the key as it was spelt.
            const std::size_t keyAt = lines[i].begin + (kv->key.data() - lines[i].body.data());
            const std::size_t bodyEnd = lines[i].begin + lines[i].body.size();
            return text.substr(0, keyAt) + std::string(kv->key) + "=" + value +
                   text.substr(bodyEnd);
        }
        // After the last line of the section that is not blank.
        std::size_t last = span->header;
        for (std::size_t i = span->header + 1; i < span->end; ++i) {
            if (!Trim(lines[i].body).empty()) last = i;
        }
        const Line& after = lines[last];
        std::string out = text.substr(0, after.end);
        if (after.end == text.size()) out += Completion(text, eol);
        out += entry + eol;
        out += text.substr(after.end);
        return out;
    }
    std::string out = text + Completion(text, eol);
    out += "[" + section + "]" + eol + entry + eol;
    return out;
}

}  // namespace vexlo::ini
