// The fake platform: an in-memory backend with a virtual clock, for fast and deterministic
// tests of the core. Every port records what the core asked of it; tests set up devices,
// files and answers in advance and drive the program with events.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "platform/platform.h"

namespace vexlo::fake {

// ---- Time -----------------------------------------------------------------------------

class FakeTimers : public TimerService, public Clock {
  public:
    std::unique_ptr<Timer> createTimer(int intervalMs, bool enabled) override;
    std::int64_t nowMs() const override { return now_; }

    // Moves the clock forward, firing every due tick in time order (ties in creation order).
    void advance(std::int64_t ms);
    void setSink(EventSink* sink) { sink_ = sink; }
    // The interval and state of a live timer, for assertions.
    struct State {
        int interval;
        bool enabled;
        std::int64_t due;
    };
    std::optional<State> state(TimerId id) const;
    std::size_t liveTimers() const { return timers_.size(); }

  private:
    friend class FakeTimer;
    struct Entry {
        int interval;
        bool enabled;
        std::int64_t due;
    };
    std::map<TimerId, Entry> timers_;
    TimerId nextId_ = 1;
    std::int64_t now_ = 0;
    EventSink* sink_ = nullptr;
};

// ---- Mixer and capture ----------------------------------------------------------------

class FakeMixer : public MixerDevice {
  public:
    // How the device answers a value written to a level control.
    enum class WriteMode { Store, Refuse, Clamp };

    struct Control {
        std::uint32_t id;
        std::uint32_t type;
        std::int32_t min;
        std::int32_t max;
        std::uint32_t multipleItems = 0;
        std::uint32_t value = 0;
    };

    FakeMixer();   // a device with the usual lines: speakers volume 0..65535 and mute, ...
    void clear();  // no lines at all (the device still opens)
    void addControl(std::uint32_t componentType, std::uint32_t controlType, std::int32_t min,
                    std::int32_t max, std::uint32_t value = 0, std::uint32_t multipleItems = 0);
    void removeLine(std::uint32_t componentType);
    void removeControl(std::uint32_t componentType, std::uint32_t controlType);
    Control* find(std::uint32_t componentType, std::uint32_t controlType);

    // The master level, as another program would see and set it.
    std::uint32_t master() {
        return find(MIXERLINE_COMPONENTTYPE_DST_SPEAKERS, MIXERCONTROL_CONTROLTYPE_VOLUME)->value;
    }
    void setMaster(std::uint32_t value) {
        find(MIXERLINE_COMPONENTTYPE_DST_SPEAKERS, MIXERCONTROL_CONTROLTYPE_VOLUME)->value = value;
    }

    MMResult openResult = MMSYSERR_NOERROR;
    MMResult readResult = MMSYSERR_NOERROR;
    WriteMode writeMode = WriteMode::Store;
    // Applied to every stored level write, like a device with coarse steps.
    std::function<std::uint32_t(std::uint32_t)> adjust;
    int openHandles = 0;
    std::vector<std::string>
        log;  // "open", "line 4", "controls 4/0x50030001/152", "get 1", "set 1=5", "close"
    std::vector<std::pair<std::uint32_t, std::uint32_t>> writes;  // control id, value
    std::size_t reads = 0;

    MMResult open(std::uint32_t deviceId, MixerHandle& handle) override;
    MMResult close(MixerHandle handle) override;
    MMResult lineByComponentType(MixerHandle handle, std::uint32_t componentType,
                                 std::uint32_t& lineId) override;
    MMResult controlByType(MixerHandle handle, std::uint32_t lineId, std::uint32_t controlType,
                           std::uint32_t cbControl, void* block) override;
    MMResult getControlDetails(MixerHandle handle, ControlDetails& details) override;
    MMResult setControlDetails(MixerHandle handle, const ControlDetails& details) override;

  private:
    struct Line {
        std::uint32_t id;
        std::vector<Control> controls;
    };
    Control* byId(std::uint32_t id);
    std::map<std::uint32_t, Line> lines_;  // by component type
    std::uint32_t nextLineId_ = 0x10;
    std::uint32_t nextControlId_ = 1;
    std::set<MixerHandle> handles_;
    MixerHandle nextHandle_ = 0x500;
};

class FakeWaveIn : public WaveInDevice {
  public:
    MMResult openResult = MMSYSERR_NOERROR;
    MMResult prepareResult = MMSYSERR_NOERROR;
    MMResult addResult = MMSYSERR_NOERROR;
    std::vector<std::string> log;      // "open", "prepare 0", "add 1", "start", "reset", ...
    std::vector<WaveHeader*> headers;  // in the order they were prepared
    WaveFormat lastFormat;
    // The device fills the queued blocks: marks them done.
    void fillQueued();

    MMResult open(WaveInHandle& handle, std::uint32_t deviceId, const WaveFormat& format) override;
    MMResult prepareHeader(WaveInHandle handle, WaveHeader& header, std::uint32_t size) override;
    MMResult addBuffer(WaveInHandle handle, WaveHeader& header, std::uint32_t size) override;
    MMResult start(WaveInHandle handle) override;
    MMResult reset(WaveInHandle handle) override;
    MMResult stop(WaveInHandle handle) override;
    MMResult unprepareHeader(WaveInHandle handle, WaveHeader& header, std::uint32_t size) override;
    MMResult close(WaveInHandle handle) override;
    std::string errorText(MMResult result, std::uint32_t maxChars) override;

  private:
    int index(const WaveHeader& header) const;
    std::vector<WaveHeader*> queued_;
};

// ---- Pictures -------------------------------------------------------------------------

class FakePicture : public Picture {
  public:
    FakePicture(NativeHandle handle, std::string path, int width, int height)
        : handle_(handle), path_(std::move(path)), width_(width), height_(height) {}
    NativeHandle handle() const override { return handle_; }
    int width() const override { return width_; }
    int height() const override { return height_; }
    const std::string& path() const { return path_; }

  private:
    NativeHandle handle_;
    std::string path_;
    int width_;
    int height_;
};

class FakeImages : public ImageLoader {
  public:
    // Makes a file loadable with the given pixel size.
    void put(const std::string& path, int width, int height) { files_[path] = {width, height}; }
    void remove(const std::string& path) { files_.erase(path); }
    // Makes a file that is there but cannot be loaded.
    void putBroken(const std::string& path) { broken_.insert(path); }
    std::shared_ptr<const Picture> load(const std::string& path, std::string& error) override;
    bool exists(const std::string& path) override {
        return files_.count(path) != 0 || broken_.count(path) != 0;
    }
    std::vector<std::string> loads;  // every path asked for, in order

  private:
    struct Size {
        int width;
        int height;
    };
    std::map<std::string, Size> files_;
    std::set<std::string> broken_;
    NativeHandle nextHandle_ = 0x7000;
};

// The base name of a picture's file, such as "icon2.ico"; "" for none.
std::string PictureName(const std::shared_ptr<const Picture>& picture);

// ---- Windows --------------------------------------------------------------------------

class FakeWindowSystem;

class FakeElement : public Element {
  public:
    FakeElement(NativeHandle handle, Kind kind, std::string name)
        : handle_(handle), kind_(kind), name_(std::move(name)) {}
    NativeHandle handle() const override { return handle_; }
    void setPicture(std::shared_ptr<const Picture> picture) override {
        picture_ = std::move(picture);
    }
    std::shared_ptr<const Picture> picture() const override { return picture_; }
    void setBounds(int x, int y, int width, int height) override;
    int x() const override { return x_; }
    int y() const override { return y_; }
    int width() const override { return width_; }
    int height() const override { return height_; }
    void setVisible(bool visible) override { visible_ = visible; }
    bool visible() const override { return visible_; }
    Kind kind() const { return kind_; }
    const std::string& name() const { return name_; }

  private:
    NativeHandle handle_;
    Kind kind_;
    std::string name_;
    std::shared_ptr<const Picture> picture_;
    int x_ = 0, y_ = 0, width_ = 0, height_ = 0;
    bool visible_ = true;
};

// What the fake knows of one window, alive or destroyed.
struct WindowRecord {
    NativeHandle handle = 0;
    WindowRole role = WindowRole::Main;
    std::string caption;
    bool alive = true;
    bool visible = false;
    int x = 0, y = 0, width = 0, height = 0;
    std::int32_t exStyle = 0;
    bool layered = false;  // SetLayeredWindowAttributes applied
    std::uint32_t colorKey = 0;
    std::uint8_t alpha = 255;
    std::uint32_t layeredFlags = 0;
    bool topmost = false;
    std::shared_ptr<const Picture> background;
    std::shared_ptr<const Picture> icon;
    std::vector<std::unique_ptr<FakeElement>> elements;
    FakeElement* element(const std::string& name) const;
};

class FakeWindow : public Window {
  public:
    FakeWindow(FakeWindowSystem& system, WindowRecord& record) : system_(system), record_(record) {}
    ~FakeWindow() override;
    NativeHandle handle() const override { return record_.handle; }
    Element& addElement(Element::Kind kind, const std::string& name) override;
    void setIcon(std::shared_ptr<const Picture> icon) override { record_.icon = std::move(icon); }
    void setBackground(std::shared_ptr<const Picture> picture) override {
        record_.background = std::move(picture);
    }
    void setBounds(int x, int y, int width, int height) override;
    int x() const override { return record_.x; }
    int y() const override { return record_.y; }
    int width() const override { return record_.width; }
    int height() const override { return record_.height; }
    void show() override;
    void hide() override;
    bool visible() const override { return record_.visible; }

  private:
    FakeWindowSystem& system_;
    WindowRecord& record_;
};

class FakeWindowSystem : public WindowSystem {
  public:
    std::unique_ptr<Window> createWindow(WindowRole role, const std::string& caption) override;
    std::int32_t getWindowLong(NativeHandle window, int index) override;
    std::int32_t setWindowLong(NativeHandle window, int index, std::int32_t value) override;
    bool setLayeredWindowAttributes(NativeHandle window, std::uint32_t colorKey, std::uint8_t alpha,
                                    std::uint32_t flags) override;
    bool setWindowPos(NativeHandle window, std::intptr_t insertAfter, int x, int y, int cx, int cy,
                      std::uint32_t flags) override;
    bool setForegroundWindow(NativeHandle window) override;
    bool releaseCapture() override;
    std::intptr_t sendMessage(NativeHandle window, std::uint32_t message, std::uintptr_t wParam,
                              std::intptr_t lParam) override;
    void popupMenu(NativeHandle owner, const std::vector<MenuItem>& items) override;

    // Lookups for assertions.
    WindowRecord* byHandle(NativeHandle handle);
    WindowRecord* byCaption(const std::string& caption, bool aliveOnly = true);
    WindowRecord* byRole(WindowRole role, std::size_t nth = 0);
    // Every element handle maps to its window.
    WindowRecord* ownerOf(NativeHandle elementHandle);
    // Visible windows from the bottom of the stack to the top.
    std::vector<NativeHandle> stacking() const;
    // A window that the user dragged somewhere else.
    void moveByUser(NativeHandle window, int x, int y);

    std::vector<std::string> log;  // "layered 3 a=125 k=0xff00ff f=3", "topmost 3 flags=3", ...
    std::vector<std::pair<NativeHandle, std::vector<MenuItem>>> menus;
    std::vector<NativeHandle> foreground;
    int releaseCaptures = 0;
    struct Message {
        NativeHandle window;
        std::uint32_t message;
        std::uintptr_t wParam;
        std::intptr_t lParam;
    };
    std::vector<Message> sent;

  private:
    friend class FakeWindow;
    NativeHandle newHandle() { return nextHandle_++; }
    void raise(NativeHandle handle);
    std::vector<std::unique_ptr<WindowRecord>> records_;
    std::vector<NativeHandle> zOrder_;  // bottom to top, every window
    NativeHandle nextHandle_ = 0x100;
};

// ---- Screen, tray, hotkeys ------------------------------------------------------------

class FakeScreen : public Screen {
  public:
    int width() const override { return widthPx; }
    int height() const override { return heightPx; }
    float twipsPerPixelX() const override { return twipsX; }
    float twipsPerPixelY() const override { return twipsY; }
    int widthPx = 1024;
    int heightPx = 768;
    float twipsX = 15;
    float twipsY = 15;
    // More monitors: index 0 is the primary one (widthPx × heightPx at 0, 0 when empty). The
    // pointer and the active window lie on the monitor of the index given; -1: not known.
    MonitorArea monitor(MonitorChoice choice) override;
    std::vector<MonitorArea> monitors;
    int pointerOn = -1;
    int activeOn = -1;
    std::vector<MonitorChoice> asked;
};

class FakeTray : public TrayService {
  public:
    bool notify(std::uint32_t message, const TrayIconRecord& record) override;
    bool balloon(const TrayIconRecord& record, const std::string& title,
                 const std::string& text) override;
    bool available = true;
    struct Balloon {
        NativeHandle hWnd;
        std::uint32_t uID;
        std::string title;
        std::string text;
    };
    std::vector<Balloon> balloons;
    std::vector<std::pair<std::uint32_t, TrayIconRecord>> calls;
    // The icon the notification area shows now, if any.
    std::optional<TrayIconRecord> shown;
    // The shell restarted: the notification area is empty again.
    void restartShell() { shown.reset(); }
};

class FakeHotkeys : public HotkeyService {
  public:
    static constexpr WindowProc kCoreProc = 0xC0DE;
    bool registerHotKey(NativeHandle window, int id, std::uint32_t modifiers,
                        std::uint32_t virtualKey) override;
    HotkeyRefusal lastRefusal() const override { return refusal_; }
    bool unregisterHotKey(NativeHandle window, int id) override;
    WindowProc coreProcedure() const override { return kCoreProc; }
    WindowProc setWindowProc(NativeHandle window, WindowProc procedure) override;
    std::intptr_t callWindowProc(WindowProc procedure, NativeHandle window, std::uint32_t message,
                                 std::uintptr_t wParam, std::intptr_t lParam) override;

    // A window's own procedure before anyone replaced it.
    static WindowProc OwnProc(NativeHandle window) {
        return 0x40000 + static_cast<WindowProc>(window);
    }
    WindowProc procOf(NativeHandle window) const;
    // Delivers a message to the window's current procedure.
    std::intptr_t sendToWindow(NativeHandle window, std::uint32_t message, std::uintptr_t wParam,
                               std::intptr_t lParam);
    // The user presses a registered combination: true when some window got WM_HOTKEY.
    bool press(std::uint32_t modifiers, std::uint32_t virtualKey);

    void setSink(EventSink* sink) { sink_ = sink; }
    std::set<int> takenByOthers;          // ids whose combination another program holds
    std::set<std::uint32_t> missingKeys;  // virtual keys the keyboard does not have
    struct Registration {
        NativeHandle window;
        int id;
        std::uint32_t modifiers;
        std::uint32_t virtualKey;
    };
    std::vector<Registration> registered;
    std::vector<std::string>
        log;  // "register 1331", "unregister 1331", "setproc 0x100=0xc0de", "call ..."
    std::intptr_t ownProcResult = 77;
    struct Call {
        WindowProc procedure;
        NativeHandle window;
        std::uint32_t message;
        std::uintptr_t wParam;
        std::intptr_t lParam;
    };
    std::vector<Call> passedOn;

  private:
    HotkeyRefusal refusal_ = HotkeyRefusal::Taken;
    std::map<NativeHandle, WindowProc> procs_;
    EventSink* sink_ = nullptr;
};

// ---- Files, sound, programs, boxes ----------------------------------------------------

// Profile files kept in memory, with the INI rules of the portable implementation.
class FakeProfile : public ProfileFile {
  public:
    std::string getString(const std::string& section, const std::string& key,
                          const std::string& defaultValue, std::uint32_t size,
                          const std::string& path) override;
    std::int32_t writeString(const std::string& section, const std::string& key,
                             const std::string& value, const std::string& path) override;
    std::map<std::string, std::string> files;  // path -> text
    bool writable = true;
    std::vector<std::string> readPaths;
    int writes = 0;
};

class FakeSound : public Sound {
  public:
    bool play(const std::string& path, std::uint32_t flags) override {
        played.push_back({path, flags});
        return true;
    }
    std::string problem(const std::string& path) override {
        const auto it = problems.find(path);
        return it == problems.end() ? std::string() : it->second;
    }
    std::map<std::string, std::string> problems;  // path -> why it would not play
    std::vector<std::pair<std::string, std::uint32_t>> played;
};

class FakeLauncher : public Launcher {
  public:
    LaunchResult start(const std::string& commandLine, int showCommand) override;
    std::set<std::string> installed;                   // command lines that start
    std::vector<std::pair<std::string, int>> started;  // every attempt
};

class FakeMessageBoxes : public MessageBoxes {
  public:
    int show(const std::string& text, const std::string& caption, std::uint32_t style) override {
        shown.push_back({text, caption, style});
        // What happens while the box is open: a modal loop keeps dispatching events.
        if (whileShown) {
            auto during = std::move(whileShown);
            during();
        }
        return IDOK;
    }
    std::function<void()> whileShown;
    struct Box {
        std::string text;
        std::string caption;
        std::uint32_t style;
    };
    std::vector<Box> shown;
};

class FakeProgram : public ProgramInfo, public Process {
  public:
    std::string folder() const override { return programFolder; }
    std::string settingsFolder() const override { return programFolder; }
    std::string commandLine() const override { return arguments; }
    void exit(int code) override {
        exited = true;
        exitCode = code;
    }
    std::string programFolder = "C:\\Vexlo";
    std::string arguments;
    bool exited = false;
    int exitCode = -1;
};

// The user's language: English, or the texts a test gives for some of the English ones.
class FakeTexts final : public Texts {
  public:
    std::string translate(const char* english) const override {
        const auto found = translations.find(english);
        return found == translations.end() ? english : found->second;
    }
    std::map<std::string, std::string> translations;
};

// ---- The whole platform ---------------------------------------------------------------

class FakePlatform {
  public:
    FakePlatform();
    // Makes every skin file loadable at its default size under the program folder.
    void installSkin();
    // The path of core.ini, and its text.
    std::string iniPath() const { return program.programFolder + "\\core.ini"; }
    void setIni(const std::string& text) { profile.files[iniPath()] = text; }
    std::optional<std::string> ini() const;
    std::string skinPath(const std::string& literal) const {
        return program.programFolder + literal;
    }

    void connect(EventSink& sink);
    void advance(std::int64_t ms) { timers.advance(ms); }
    void mouse(NativeHandle target, std::uint32_t message, int buttons, int x, int y);
    // A press over the tray icon (WM_LBUTTONDOWN, WM_RBUTTONDOWN, ...).
    void trayNotify(std::uint32_t mouseMessage);
    // The wheel over the tray icon.
    void trayWheel(int delta, bool vertical = true);
    void chooseMenuItem(const std::string& caption);

    FakeMixer mixer;
    FakeWaveIn waveIn;
    FakeWindowSystem windows;
    FakeImages images;
    FakeTimers timers;
    FakeScreen screen;
    FakeTray tray;
    FakeHotkeys hotkeys;
    FakeProfile profile;
    FakeSound sound;
    FakeLauncher launcher;
    FakeMessageBoxes messageBox;
    FakeProgram program;
    FakeTexts texts;
    Platform platform;

  private:
    EventSink* sink_ = nullptr;
};

}  // namespace vexlo::fake
