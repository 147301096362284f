// frmHelper: the hidden first window. Its load is the program entry; it owns the tray menu
// with its commands "Quit" and "Open Mixer".
#pragma once

#include <vector>

#include "platform/window_system.h"

namespace vexlo {

class Application;

inline constexpr int kMenuQuit = 1;
inline constexpr int kMenuOpenMixer = 2;

class frmHelper {
  public:
    explicit frmHelper(Application& app) : app_(app) {}
    // The program entry: the slider window alone for "/control", else the controller.
    void Form_Load();
    // Starts the configured mixer program, else the system's own one.
    void OpMix_Click();
    // Tears the program down and ends the process; does not return.
    [[noreturn]] void Quit_Click();
    std::vector<MenuItem> MenuItems() const;

  private:
    Application& app_;
};

}  // namespace vexlo
