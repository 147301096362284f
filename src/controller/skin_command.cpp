#include "controller/skin_command.h"

namespace vexlo {

namespace {

bool Blank(char c) {
    return c == ' ' || c == '\t';
}

SkinRequest Malformed(SkinCommand command, const std::string& word, const std::string& what) {
    SkinRequest request;
    request.command = command;
    request.error = word + " " + what + ", as in: " + word + " FOLDER";
    return request;
}

}  // namespace

SkinCommand SkinCommandOf(const std::string& word) {
    if (word == "/checkskin" || word == "--check-skin") return SkinCommand::Check;
    if (word == "/previewskin" || word == "--preview-skin") return SkinCommand::Preview;
    return SkinCommand::None;
}

SkinRequest ReadSkinRequest(const std::string& commandLine) {
    std::size_t at = 0;
    while (at < commandLine.size() && Blank(commandLine[at])) ++at;
    std::size_t end = at;
    while (end < commandLine.size() && !Blank(commandLine[end])) ++end;
    const std::string word = commandLine.substr(at, end - at);
    const SkinCommand command = SkinCommandOf(word);
    if (command == SkinCommand::None) return {};
    at = end;
    while (at < commandLine.size() && Blank(commandLine[at])) ++at;
    std::string rest = commandLine.substr(at);
    while (!rest.empty() && Blank(rest.back())) rest.pop_back();
    if (rest.size() >= 2 && rest.front() == '"' && rest.back() == '"') {
        rest = rest.substr(1, rest.size() - 2);
    }
    if (rest.find('"') != std::string::npos) {
        return Malformed(command, word, "takes one folder, in double quotes if it has spaces");
    }
    if (rest.empty()) return Malformed(command, word, "needs the skin folder");
    return SkinRequest {command, rest, {}};
}

SkinRequest ReadSkinRequest(const std::string& word, const std::string* folder, int extra) {
    const SkinCommand command = SkinCommandOf(word);
    if (command == SkinCommand::None) return {};
    if (folder == nullptr || folder->empty()) {
        return Malformed(command, word, "needs the skin folder");
    }
    if (extra > 0) return Malformed(command, word, "takes one folder");
    return SkinRequest {command, *folder, {}};
}

}  // namespace vexlo
