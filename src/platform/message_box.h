// Port: modal message boxes.
#pragma once

#include <cstdint>
#include <string>

namespace vexlo {

class MessageBoxes {
  public:
    virtual ~MessageBoxes() = default;
    // Shows a modal box and returns the button chosen (IDOK, ...).
    virtual int show(const std::string& text, const std::string& caption, std::uint32_t style) = 0;
};

}  // namespace vexlo
