// The table of malformed settings files in tests/data/bad_settings.tsv.
#pragma once

#include <fstream>
#include <optional>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

namespace vexlo::testing {

struct SettingsCase {
    std::string name;
    bool fullRuns;
    bool controlRuns;
    std::optional<std::string> content;  // nullopt: no file at all
};

// Expands the escapes \n \r \t \\ \xHH and the repetitions {N*TEXT}.
inline std::string ExpandContent(const std::string& raw) {
    std::string out;
    for (std::size_t i = 0; i < raw.size(); ++i) {
        const char c = raw[i];
        if (c == '{') {
            const std::size_t star = raw.find('*', i);
            std::size_t close = raw.find('}', star);
            if (star == std::string::npos || close == std::string::npos) {
                throw std::runtime_error("bad repetition in: " + raw);
            }
            const int count = std::stoi(raw.substr(i + 1, star - i - 1));
            const std::string piece = ExpandContent(raw.substr(star + 1, close - star - 1));
            for (int n = 0; n < count; ++n) out += piece;
            i = close;
        } else if (c == '\\' && i + 1 < raw.size()) {
            const char e = raw[++i];
            if (e == 'n')
                out += '\n';
            else if (e == 'r')
                out += '\r';
            else if (e == 't')
                out += '\t';
            else if (e == 'x') {
                out += static_cast<char>(std::stoi(raw.substr(i + 1, 2), nullptr, 16));
                i += 2;
            } else
                out += e;
        } else {
            out += c;
        }
    }
    return out;
}

inline std::vector<SettingsCase> LoadSettingsCases(const std::string& path) {
    std::ifstream in(path);
    if (!in) throw std::runtime_error("cannot read " + path);
    std::vector<SettingsCase> cases;
    std::string line;
    while (std::getline(in, line)) {
        if (line.empty() || line[0] == '#') continue;
        std::vector<std::string> fields;
        std::size_t start = 0;
        for (int column = 0; column < 3; ++column) {
            const std::size_t tab = line.find('\t', start);
            if (tab == std::string::npos) throw std::runtime_error("bad line: " + line);
            fields.push_back(line.substr(start, tab - start));
            start = tab + 1;
        }
        const std::string raw = line.substr(start);
        SettingsCase c {fields[0], fields[1] == "runs", fields[2] == "runs", std::nullopt};
        if (raw != "-") c.content = ExpandContent(raw);
        cases.push_back(std::move(c));
    }
    return cases;
}

}  // namespace vexlo::testing
