#include "platform/fake/fake_platform.h"

#include <algorithm>
#include <cstring>
#include <sstream>

#include "platform/common/ini_document.h"

namespace vexlo::fake {

namespace {
std::string Hex(std::uint64_t value) {
    std::ostringstream out;
    out << "0x" << std::hex << value;
    return out.str();
}
}  // namespace

// ---- Time -----------------------------------------------------------------------------

class FakeTimer : public Timer {
  public:
    FakeTimer(FakeTimers& owner, TimerId id) : owner_(owner), id_(id) {}
    ~FakeTimer() override { owner_.timers_.erase(id_); }
    TimerId id() const override { return id_; }
    int interval() const override { return owner_.timers_.at(id_).interval; }
    void setEnabled(bool enabled) override {
        auto& entry = owner_.timers_.at(id_);
        if (enabled && !entry.enabled) entry.due = owner_.now_ + entry.interval;
        entry.enabled = enabled;
    }
    bool enabled() const override { return owner_.timers_.at(id_).enabled; }

  private:
    FakeTimers& owner_;
    TimerId id_;
};

std::unique_ptr<Timer> FakeTimers::createTimer(int intervalMs, bool enabled) {
    const TimerId id = nextId_++;
    timers_[id] = Entry {intervalMs, enabled, now_ + intervalMs};
    return std::make_unique<FakeTimer>(*this, id);
}

std::optional<FakeTimers::State> FakeTimers::state(TimerId id) const {
    const auto it = timers_.find(id);
    if (it == timers_.end()) return std::nullopt;
    return State {it->second.interval, it->second.enabled, it->second.due};
}

void FakeTimers::advance(std::int64_t ms) {
    const std::int64_t target = now_ + ms;
    for (;;) {
        TimerId next = 0;
        std::int64_t due = target + 1;
        for (const auto& [id, entry] : timers_) {
            if (entry.enabled && entry.due < due) {
                due = entry.due;
                next = id;
            }
        }
        if (next == 0) break;
        now_ = due;
        auto& entry = timers_.at(next);
        entry.due += std::max(entry.interval, 1);
        if (sink_) sink_->onTimer(next);
    }
    now_ = target;
}

// ---- Mixer ----------------------------------------------------------------------------

FakeMixer::FakeMixer() {
    const std::uint32_t levelLines[] = {
        MIXERLINE_COMPONENTTYPE_DST_SPEAKERS,    MIXERLINE_COMPONENTTYPE_SRC_MICROPHONE,
        MIXERLINE_COMPONENTTYPE_SRC_LINE,        MIXERLINE_COMPONENTTYPE_SRC_COMPACTDISC,
        MIXERLINE_COMPONENTTYPE_SRC_SYNTHESIZER, MIXERLINE_COMPONENTTYPE_SRC_WAVEOUT};
    for (std::uint32_t line : levelLines) {
        addControl(line, MIXERCONTROL_CONTROLTYPE_VOLUME, 0, 65535);
        addControl(line, MIXERCONTROL_CONTROLTYPE_MUTE, 0, 1);
    }
    addControl(MIXERLINE_COMPONENTTYPE_DST_WAVEIN, MIXERCONTROL_CONTROLTYPE_PEAKMETER, -32768,
               32767);
    addControl(MIXERLINE_COMPONENTTYPE_SRC_WAVEOUT, MIXERCONTROL_CONTROLTYPE_PEAKMETER, -32768,
               32767);
}

void FakeMixer::clear() {
    lines_.clear();
}

void FakeMixer::addControl(std::uint32_t componentType, std::uint32_t controlType, std::int32_t min,
                           std::int32_t max, std::uint32_t value, std::uint32_t multipleItems) {
    auto [it, added] = lines_.try_emplace(componentType, Line {nextLineId_, {}});
    if (added) ++nextLineId_;
    it->second.controls.push_back(
        Control {nextControlId_++, controlType, min, max, multipleItems, value});
}

void FakeMixer::removeLine(std::uint32_t componentType) {
    lines_.erase(componentType);
}

void FakeMixer::removeControl(std::uint32_t componentType, std::uint32_t controlType) {
    auto it = lines_.find(componentType);
    if (it == lines_.end()) return;
    auto& controls = it->second.controls;
    controls.erase(std::remove_if(controls.begin(), controls.end(),
                                  [&](const Control& c) { return c.type == controlType; }),
                   controls.end());
}

FakeMixer::Control* FakeMixer::find(std::uint32_t componentType, std::uint32_t controlType) {
    auto it = lines_.find(componentType);
    if (it == lines_.end()) return nullptr;
    for (auto& control : it->second.controls) {
        if (control.type == controlType) return &control;
    }
    return nullptr;
}

FakeMixer::Control* FakeMixer::byId(std::uint32_t id) {
    for (auto& [type, line] : lines_) {
        for (auto& control : line.controls) {
            if (control.id == id) return &control;
        }
    }
    return nullptr;
}

MMResult FakeMixer::open(std::uint32_t deviceId, MixerHandle& handle) {
    log.push_back("open " + std::to_string(deviceId));
    if (openResult != MMSYSERR_NOERROR) return openResult;
    if (deviceId != 0) return MMSYSERR_BADDEVICEID;
    handle = nextHandle_++;
    handles_.insert(handle);
    ++openHandles;
    return MMSYSERR_NOERROR;
}

MMResult FakeMixer::close(MixerHandle handle) {
    log.push_back("close");
    if (handles_.erase(handle) == 0) return MMSYSERR_INVALHANDLE;
    --openHandles;
    return MMSYSERR_NOERROR;
}

MMResult FakeMixer::lineByComponentType(MixerHandle handle, std::uint32_t componentType,
                                        std::uint32_t& lineId) {
    log.push_back("line " + Hex(componentType));
    if (!handles_.count(handle)) return MMSYSERR_INVALHANDLE;
    const auto it = lines_.find(componentType);
    if (it == lines_.end()) return MIXERR_INVALLINE;
    lineId = it->second.id;
    return MMSYSERR_NOERROR;
}

MMResult FakeMixer::controlByType(MixerHandle handle, std::uint32_t lineId,
                                  std::uint32_t controlType, std::uint32_t cbControl, void* block) {
    log.push_back("control " + Hex(lineId) + " " + Hex(controlType) + " " +
                  std::to_string(cbControl));
    if (!handles_.count(handle)) return MMSYSERR_INVALHANDLE;
    if (block == nullptr || cbControl != kControlRecordSize) return MMSYSERR_INVALPARAM;
    for (auto& [type, line] : lines_) {
        if (line.id != lineId) continue;
        for (const auto& control : line.controls) {
            if (control.type != controlType) continue;
            ControlRecord record {};
            record.cbStruct = kControlRecordSize;
            record.dwControlID = control.id;
            record.dwControlType = control.type;
            record.cMultipleItems = control.multipleItems;
            std::strncpy(record.szShortName, "Control", sizeof record.szShortName - 1);
            std::strncpy(record.szName, "Fake control", sizeof record.szName - 1);
            record.lMinimum = control.min;
            record.lMaximum = control.max;
            std::memcpy(block, &record, sizeof record);
            return MMSYSERR_NOERROR;
        }
        return MIXERR_INVALCONTROL;
    }
    return MIXERR_INVALLINE;
}

MMResult FakeMixer::getControlDetails(MixerHandle handle, ControlDetails& details) {
    ++reads;
    if (!handles_.count(handle)) return MMSYSERR_INVALHANDLE;
    if (readResult != MMSYSERR_NOERROR) return readResult;
    if (details.paDetails == nullptr || details.cbDetails < 4) return MMSYSERR_INVALPARAM;
    Control* control = byId(details.dwControlID);
    if (!control) return MIXERR_INVALCONTROL;
    std::memcpy(details.paDetails, &control->value, 4);
    return MMSYSERR_NOERROR;
}

MMResult FakeMixer::setControlDetails(MixerHandle handle, const ControlDetails& details) {
    if (!handles_.count(handle)) return MMSYSERR_INVALHANDLE;
    if (details.paDetails == nullptr || details.cbDetails < 4) return MMSYSERR_INVALPARAM;
    Control* control = byId(details.dwControlID);
    if (!control) return MIXERR_INVALCONTROL;
    std::uint32_t value = 0;
    std::memcpy(&value, details.paDetails, 4);
    writes.push_back({control->id, value});
    const auto asSigned = static_cast<std::int32_t>(value);
    const bool outside = asSigned < control->min || asSigned > control->max;
    if (outside && writeMode == WriteMode::Refuse) return MMSYSERR_INVALPARAM;
    if (outside && writeMode == WriteMode::Clamp) {
        value = static_cast<std::uint32_t>(std::clamp(asSigned, control->min, control->max));
    }
    control->value = adjust ? adjust(value) : value;
    return MMSYSERR_NOERROR;
}

// ---- Capture --------------------------------------------------------------------------

int FakeWaveIn::index(const WaveHeader& header) const {
    for (std::size_t i = 0; i < headers.size(); ++i) {
        if (headers[i] == &header) return static_cast<int>(i);
    }
    return -1;
}

MMResult FakeWaveIn::open(WaveInHandle& handle, std::uint32_t deviceId, const WaveFormat& format) {
    log.push_back("open " + std::to_string(deviceId));
    lastFormat = format;
    if (openResult != MMSYSERR_NOERROR) return openResult;
    handle = 0x900;
    headers.clear();
    return MMSYSERR_NOERROR;
}

MMResult FakeWaveIn::prepareHeader(WaveInHandle, WaveHeader& header, std::uint32_t size) {
    if (index(header) < 0) headers.push_back(&header);
    log.push_back("prepare " + std::to_string(index(header)) + " " + std::to_string(size));
    if (prepareResult != MMSYSERR_NOERROR) return prepareResult;
    header.dwFlags |= WHDR_PREPARED;
    return MMSYSERR_NOERROR;
}

MMResult FakeWaveIn::addBuffer(WaveInHandle, WaveHeader& header, std::uint32_t) {
    log.push_back("add " + std::to_string(index(header)));
    if (addResult != MMSYSERR_NOERROR) return addResult;
    header.dwFlags = (header.dwFlags & ~WHDR_DONE) | WHDR_INQUEUE;
    queued_.push_back(&header);
    return MMSYSERR_NOERROR;
}

void FakeWaveIn::fillQueued() {
    for (WaveHeader* header : queued_) {
        header->dwFlags = (header->dwFlags & ~WHDR_INQUEUE) | WHDR_DONE;
        header->dwBytesRecorded = header->dwBufferLength;
    }
    queued_.clear();
}

MMResult FakeWaveIn::start(WaveInHandle) {
    log.push_back("start");
    return MMSYSERR_NOERROR;
}
MMResult FakeWaveIn::reset(WaveInHandle) {
    log.push_back("reset");
    queued_.clear();
    return MMSYSERR_NOERROR;
}
MMResult FakeWaveIn::stop(WaveInHandle) {
    log.push_back("stop");
    return MMSYSERR_NOERROR;
}
MMResult FakeWaveIn::unprepareHeader(WaveInHandle, WaveHeader& header, std::uint32_t) {
    log.push_back("unprepare " + std::to_string(index(header)));
    return MMSYSERR_NOERROR;
}
MMResult FakeWaveIn::close(WaveInHandle) {
    log.push_back("close");
    return MMSYSERR_NOERROR;
}

std::string FakeWaveIn::errorText(MMResult result, std::uint32_t maxChars) {
    std::string text = "Wave-in error " + std::to_string(result) + ": no device.";
    if (maxChars > 0 && text.size() > maxChars - 1) text.resize(maxChars - 1);
    return text;
}

// ---- Pictures -------------------------------------------------------------------------

std::shared_ptr<const Picture> FakeImages::load(const std::string& path, std::string& error) {
    loads.push_back(path);
    const auto it = files_.find(path);
    if (broken_.count(path) != 0) {
        error = "not a picture this program can read";
        return nullptr;
    }
    if (it == files_.end()) {
        error = "file not found";
        return nullptr;
    }
    return std::make_shared<FakePicture>(nextHandle_++, path, it->second.width, it->second.height);
}

std::string PictureName(const std::shared_ptr<const Picture>& picture) {
    const auto* fake = dynamic_cast<const FakePicture*>(picture.get());
    if (!fake) return "";
    const std::string& path = fake->path();
    const std::size_t slash = path.find_last_of("\\/");
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

// ---- Windows --------------------------------------------------------------------------

void FakeElement::setBounds(int x, int y, int width, int height) {
    x_ = x;
    y_ = y;
    width_ = width;
    height_ = height;
}

FakeElement* WindowRecord::element(const std::string& name) const {
    for (const auto& e : elements) {
        if (e->name() == name) return e.get();
    }
    return nullptr;
}

FakeWindow::~FakeWindow() {
    record_.alive = false;
    record_.visible = false;
    auto& z = system_.zOrder_;
    z.erase(std::remove(z.begin(), z.end(), record_.handle), z.end());
    system_.log.push_back("destroy " + Hex(record_.handle));
}

Element& FakeWindow::addElement(Element::Kind kind, const std::string& name) {
    record_.elements.push_back(std::make_unique<FakeElement>(system_.newHandle(), kind, name));
    return *record_.elements.back();
}

void FakeWindow::setBounds(int x, int y, int width, int height) {
    record_.x = x;
    record_.y = y;
    record_.width = width;
    record_.height = height;
}

void FakeWindow::show() {
    if (record_.visible) return;
    record_.visible = true;
    system_.raise(record_.handle);
    system_.log.push_back("show " + Hex(record_.handle));
}

void FakeWindow::hide() {
    if (!record_.visible) return;
    record_.visible = false;
    system_.log.push_back("hide " + Hex(record_.handle));
}

std::unique_ptr<Window> FakeWindowSystem::createWindow(WindowRole role,
                                                       const std::string& caption) {
    auto record = std::make_unique<WindowRecord>();
    record->handle = newHandle();
    record->role = role;
    record->caption = caption;
    zOrder_.push_back(record->handle);
    records_.push_back(std::move(record));
    log.push_back("create " + Hex(records_.back()->handle) + " " + caption);
    return std::make_unique<FakeWindow>(*this, *records_.back());
}

void FakeWindowSystem::raise(NativeHandle handle) {
    zOrder_.erase(std::remove(zOrder_.begin(), zOrder_.end(), handle), zOrder_.end());
    zOrder_.push_back(handle);
}

WindowRecord* FakeWindowSystem::byHandle(NativeHandle handle) {
    for (auto& r : records_) {
        if (r->handle == handle) return r.get();
    }
    return nullptr;
}

WindowRecord* FakeWindowSystem::byCaption(const std::string& caption, bool aliveOnly) {
    WindowRecord* found = nullptr;
    for (auto& r : records_) {
        if (r->caption == caption && (r->alive || !aliveOnly)) found = r.get();
    }
    return found;
}

WindowRecord* FakeWindowSystem::byRole(WindowRole role, std::size_t nth) {
    for (auto& r : records_) {
        if (r->role == role && r->alive && nth-- == 0) return r.get();
    }
    return nullptr;
}

WindowRecord* FakeWindowSystem::ownerOf(NativeHandle elementHandle) {
    for (auto& r : records_) {
        for (auto& e : r->elements) {
            if (e->handle() == elementHandle) return r.get();
        }
    }
    return nullptr;
}

std::vector<NativeHandle> FakeWindowSystem::stacking() const {
    std::vector<NativeHandle> visible;
    for (NativeHandle h : zOrder_) {
        for (const auto& r : records_) {
            if (r->handle == h && r->visible) visible.push_back(h);
        }
    }
    return visible;
}

void FakeWindowSystem::moveByUser(NativeHandle window, int x, int y) {
    if (WindowRecord* r = byHandle(window)) {
        r->x = x;
        r->y = y;
    }
}

std::int32_t FakeWindowSystem::getWindowLong(NativeHandle window, int index) {
    WindowRecord* r = byHandle(window);
    if (!r || !r->alive || index != GWL_EXSTYLE) return 0;
    return r->exStyle;
}

std::int32_t FakeWindowSystem::setWindowLong(NativeHandle window, int index, std::int32_t value) {
    WindowRecord* r = byHandle(window);
    log.push_back("setlong " + Hex(window) + " " + std::to_string(index) + " " +
                  Hex(static_cast<std::uint32_t>(value)));
    if (!r || !r->alive || index != GWL_EXSTYLE) return 0;
    const std::int32_t previous = r->exStyle;
    r->exStyle = value;
    return previous;
}

bool FakeWindowSystem::setLayeredWindowAttributes(NativeHandle window, std::uint32_t colorKey,
                                                  std::uint8_t alpha, std::uint32_t flags) {
    log.push_back("layered " + Hex(window) + " key=" + Hex(colorKey) +
                  " alpha=" + std::to_string(alpha) + " flags=" + std::to_string(flags));
    WindowRecord* r = byHandle(window);
    if (!r || !r->alive || !(r->exStyle & WS_EX_LAYERED)) return false;
    r->layered = true;
    r->colorKey = colorKey;
    r->layeredFlags = flags;
    r->alpha = (flags & LWA_ALPHA) ? alpha : 255;
    return true;
}

bool FakeWindowSystem::setWindowPos(NativeHandle window, std::intptr_t insertAfter, int x, int y,
                                    int cx, int cy, std::uint32_t flags) {
    log.push_back("setpos " + Hex(window) + " after=" + std::to_string(insertAfter) +
                  " flags=" + std::to_string(flags));
    WindowRecord* r = byHandle(window);
    if (!r || !r->alive) return false;
    if (insertAfter == HWND_TOPMOST) r->topmost = true;
    if (!(flags & SWP_NOMOVE)) r->x = x, r->y = y;
    if (!(flags & SWP_NOSIZE)) r->width = cx, r->height = cy;
    return true;
}

bool FakeWindowSystem::setForegroundWindow(NativeHandle window) {
    foreground.push_back(window);
    return true;
}

bool FakeWindowSystem::releaseCapture() {
    ++releaseCaptures;
    return true;
}

std::intptr_t FakeWindowSystem::sendMessage(NativeHandle window, std::uint32_t message,
                                            std::uintptr_t wParam, std::intptr_t lParam) {
    sent.push_back({window, message, wParam, lParam});
    return 0;
}

void FakeWindowSystem::popupMenu(NativeHandle owner, const std::vector<MenuItem>& items) {
    menus.push_back({owner, items});
}

// ---- Tray and hotkeys -----------------------------------------------------------------

bool FakeTray::notify(std::uint32_t message, const TrayIconRecord& record) {
    calls.push_back({message, record});
    if (!available) return false;
    switch (message) {
        case NIM_ADD:
            if (shown) return false;
            shown = record;
            return true;
        case NIM_MODIFY:
            if (!shown) return false;
            shown = record;
            return true;
        case NIM_DELETE:
            if (!shown) return false;
            shown.reset();
            return true;
        default:
            return false;
    }
}

bool FakeTray::balloon(const TrayIconRecord& record, const std::string& title,
                       const std::string& text) {
    balloons.push_back({record.hWnd, record.uID, title, text});
    return available && shown && shown->hWnd == record.hWnd && shown->uID == record.uID;
}

bool FakeHotkeys::registerHotKey(NativeHandle window, int id, std::uint32_t modifiers,
                                 std::uint32_t virtualKey) {
    log.push_back("register " + std::to_string(id));
    if (missingKeys.count(virtualKey)) {
        refusal_ = HotkeyRefusal::NoSuchKey;
        return false;
    }
    refusal_ = HotkeyRefusal::Taken;
    if (takenByOthers.count(id)) return false;
    for (const auto& r : registered) {
        if (r.window == window && r.id == id) return false;
    }
    registered.push_back({window, id, modifiers, virtualKey});
    return true;
}

bool FakeHotkeys::unregisterHotKey(NativeHandle window, int id) {
    log.push_back("unregister " + std::to_string(id));
    const auto it = std::find_if(registered.begin(), registered.end(), [&](const Registration& r) {
        return r.window == window && r.id == id;
    });
    if (it == registered.end()) return false;
    registered.erase(it);
    return true;
}

WindowProc FakeHotkeys::procOf(NativeHandle window) const {
    const auto it = procs_.find(window);
    return it == procs_.end() ? OwnProc(window) : it->second;
}

WindowProc FakeHotkeys::setWindowProc(NativeHandle window, WindowProc procedure) {
    log.push_back("setproc " + Hex(procedure));
    const WindowProc previous = procOf(window);
    procs_[window] = procedure;
    return previous;
}

std::intptr_t FakeHotkeys::callWindowProc(WindowProc procedure, NativeHandle window,
                                          std::uint32_t message, std::uintptr_t wParam,
                                          std::intptr_t lParam) {
    passedOn.push_back({procedure, window, message, wParam, lParam});
    return ownProcResult;
}

std::intptr_t FakeHotkeys::sendToWindow(NativeHandle window, std::uint32_t message,
                                        std::uintptr_t wParam, std::intptr_t lParam) {
    if (procOf(window) == kCoreProc && sink_) {
        return sink_->onWindowMessage(window, message, wParam, lParam);
    }
    return 0;  // the window's own procedure ignores what it is sent here
}

bool FakeHotkeys::press(std::uint32_t modifiers, std::uint32_t virtualKey) {
    for (const auto& r : registered) {
        if (r.modifiers == modifiers && r.virtualKey == virtualKey) {
            sendToWindow(r.window, WM_HOTKEY, static_cast<std::uintptr_t>(r.id), 0);
            return true;
        }
    }
    return false;
}

// ---- Files, programs ------------------------------------------------------------------

std::string FakeProfile::getString(const std::string& section, const std::string& key,
                                   const std::string& defaultValue, std::uint32_t size,
                                   const std::string& path) {
    readPaths.push_back(path);
    std::string value = defaultValue;
    const auto it = files.find(path);
    if (it != files.end()) {
        if (auto found = ini::Lookup(it->second, section, key)) value = *found;
    }
    if (size == 0) return {};
    if (value.size() > size - 1) value.resize(size - 1);
    return value;
}

std::int32_t FakeProfile::writeString(const std::string& section, const std::string& key,
                                      const std::string& value, const std::string& path) {
    ++writes;
    if (!writable) return 0;
    files[path] = ini::Update(files[path], section, key, value);
    return 1;
}

LaunchResult FakeLauncher::start(const std::string& commandLine, int showCommand) {
    started.push_back({commandLine, showCommand});
    if (installed.count(commandLine)) return {true, ""};
    return {false, "The system cannot find the file specified."};
}

// ---- The whole platform ---------------------------------------------------------------

FakePlatform::FakePlatform()
    : platform {mixer,   waveIn, windows,  images,     timers,  screen,  tray, hotkeys,
                profile, sound,  launcher, messageBox, program, program, texts} {
    hotkeys.useTexts(texts);
}

void FakePlatform::installSkin() {
    images.put(skinPath("\\back.bmp"), 220, 200);
    images.put(skinPath("\\chunks.bmp"), 144, 12);
    images.put(skinPath("\\overlay1.bmp"), 220, 200);
    images.put(skinPath("\\overlay2.bmp"), 220, 200);
    for (int i = 0; i < 4; ++i) images.put(skinPath("\\icon" + std::to_string(i) + ".ico"), 32, 32);
    images.put(skinPath("\\controlbg.bmp"), 30, 134);
    images.put(skinPath("\\controlknob.gif"), 15, 15);
}

std::optional<std::string> FakePlatform::ini() const {
    const auto it = profile.files.find(iniPath());
    if (it == profile.files.end()) return std::nullopt;
    return it->second;
}

void FakePlatform::connect(EventSink& sink) {
    sink_ = &sink;
    timers.setSink(&sink);
    hotkeys.setSink(&sink);
}

void FakePlatform::mouse(NativeHandle target, std::uint32_t message, int buttons, int x, int y) {
    if (sink_) sink_->onMouse(MouseEvent {target, message, buttons, x, y});
}

void FakePlatform::trayNotify(std::uint32_t mouseMessage) {
    if (!tray.shown) return;
    mouse(tray.shown->hWnd, WM_MOUSEMOVE, 0, static_cast<int>(mouseMessage), 0);
}

void FakePlatform::trayWheel(int delta, bool vertical) {
    if (tray.shown && sink_) sink_->onTrayWheel(tray.shown->hWnd, delta, vertical);
}

void FakePlatform::chooseMenuItem(const std::string& caption) {
    if (windows.menus.empty() || !sink_) return;
    for (const auto& item : windows.menus.back().second) {
        if (item.caption == caption) sink_->onMenuCommand(item.id);
    }
}

MonitorArea FakeScreen::monitor(MonitorChoice choice) {
    asked.push_back(choice);
    if (monitors.empty()) return {0, 0, widthPx, heightPx};
    const int on = choice == MonitorChoice::Pointer  ? pointerOn
                   : choice == MonitorChoice::Active ? activeOn
                                                     : 0;
    return monitors[on >= 0 && on < static_cast<int>(monitors.size()) ? on : 0];
}

}  // namespace vexlo::fake
