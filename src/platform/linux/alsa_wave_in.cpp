#include "platform/linux/alsa_wave_in.h"

#include <QTimer>
#include <algorithm>
#include <cstring>

#include "platform/linux/alsa_mixer.h"
#include "platform/types.h"

namespace vexlo::linux_platform {

namespace {
constexpr int kPollMs = 20;
constexpr std::uint16_t kFormatPcm = 1;
constexpr MMResult WAVERR_BADFORMAT = 32;
constexpr MMResult WAVERR_UNPREPARED = 34;
}  // namespace

AlsaWaveIn::AlsaWaveIn(std::string device) : device_(std::move(device)) {
    SilenceAlsa();
}

AlsaWaveIn::~AlsaWaveIn() {
    for (auto& [handle, capture] : captures_) snd_pcm_close(capture.pcm);
}

AlsaWaveIn::Capture* AlsaWaveIn::find(WaveInHandle handle) {
    const auto it = captures_.find(handle);
    return it == captures_.end() ? nullptr : &it->second;
}

MMResult AlsaWaveIn::open(WaveInHandle& handle, std::uint32_t deviceId, const WaveFormat& format) {
    handle = 0;
    if (deviceId != 0) return MMSYSERR_BADDEVICEID;
    snd_pcm_format_t sampleFormat = SND_PCM_FORMAT_UNKNOWN;
    if (format.wFormatTag == kFormatPcm && format.wBitsPerSample == 8)
        sampleFormat = SND_PCM_FORMAT_U8;
    if (format.wFormatTag == kFormatPcm && format.wBitsPerSample == 16)
        sampleFormat = SND_PCM_FORMAT_S16_LE;
    if (sampleFormat == SND_PCM_FORMAT_UNKNOWN || format.nChannels == 0 ||
        format.nSamplesPerSec == 0) {
        return WAVERR_BADFORMAT;
    }
    snd_pcm_t* pcm = nullptr;
    if (snd_pcm_open(&pcm, device_.c_str(), SND_PCM_STREAM_CAPTURE, SND_PCM_NONBLOCK) < 0) {
        return MMSYSERR_BADDEVICEID;
    }
    // Half a second of device buffer; the program's own blocks hold about a second each.
    if (snd_pcm_set_params(pcm, sampleFormat, SND_PCM_ACCESS_RW_INTERLEAVED, format.nChannels,
                           format.nSamplesPerSec, 1, 500000) < 0) {
        snd_pcm_close(pcm);
        return WAVERR_BADFORMAT;
    }
    handle = nextHandle_++;
    Capture& capture = captures_[handle];
    capture.pcm = pcm;
    capture.frameBytes = format.nChannels * (format.wBitsPerSample / 8);
    return MMSYSERR_NOERROR;
}

MMResult AlsaWaveIn::prepareHeader(WaveInHandle handle, WaveHeader& header, std::uint32_t) {
    if (find(handle) == nullptr) return MMSYSERR_INVALHANDLE;
    if (header.lpData == nullptr) return MMSYSERR_INVALPARAM;
    header.dwFlags |= WHDR_PREPARED;
    return MMSYSERR_NOERROR;
}

MMResult AlsaWaveIn::addBuffer(WaveInHandle handle, WaveHeader& header, std::uint32_t) {
    Capture* capture = find(handle);
    if (capture == nullptr) return MMSYSERR_INVALHANDLE;
    if (!(header.dwFlags & WHDR_PREPARED)) return WAVERR_UNPREPARED;
    if (header.dwFlags & WHDR_INQUEUE) return WAVERR_STILLPLAYING;
    header.dwFlags = (header.dwFlags & ~WHDR_DONE) | WHDR_INQUEUE;
    header.dwBytesRecorded = 0;
    capture->queue.push_back(&header);
    return MMSYSERR_NOERROR;
}

MMResult AlsaWaveIn::start(WaveInHandle handle) {
    Capture* capture = find(handle);
    if (capture == nullptr) return MMSYSERR_INVALHANDLE;
    if (!capture->running) {
        snd_pcm_prepare(capture->pcm);
        if (snd_pcm_start(capture->pcm) < 0) return MMSYSERR_ERROR;
        capture->running = true;
    }
    updateTimer();
    return MMSYSERR_NOERROR;
}

void AlsaWaveIn::finishAll(Capture& capture) {
    for (WaveHeader* h : capture.queue) h->dwFlags = (h->dwFlags & ~WHDR_INQUEUE) | WHDR_DONE;
    capture.queue.clear();
}

MMResult AlsaWaveIn::reset(WaveInHandle handle) {
    Capture* capture = find(handle);
    if (capture == nullptr) return MMSYSERR_INVALHANDLE;
    snd_pcm_drop(capture->pcm);
    capture->running = false;
    finishAll(*capture);
    updateTimer();
    return MMSYSERR_NOERROR;
}

MMResult AlsaWaveIn::stop(WaveInHandle handle) {
    Capture* capture = find(handle);
    if (capture == nullptr) return MMSYSERR_INVALHANDLE;
    if (capture->running) {
        poll();
        snd_pcm_drop(capture->pcm);
        capture->running = false;
    }
    // A block that holds some sound is handed back as it is.
    if (!capture->queue.empty() && capture->queue.front()->dwBytesRecorded > 0) {
        WaveHeader* h = capture->queue.front();
        capture->queue.pop_front();
        h->dwFlags = (h->dwFlags & ~WHDR_INQUEUE) | WHDR_DONE;
    }
    updateTimer();
    return MMSYSERR_NOERROR;
}

MMResult AlsaWaveIn::unprepareHeader(WaveInHandle handle, WaveHeader& header, std::uint32_t) {
    if (find(handle) == nullptr) return MMSYSERR_INVALHANDLE;
    if (header.dwFlags & WHDR_INQUEUE) return WAVERR_STILLPLAYING;
    header.dwFlags &= ~WHDR_PREPARED;
    return MMSYSERR_NOERROR;
}

MMResult AlsaWaveIn::close(WaveInHandle handle) {
    Capture* capture = find(handle);
    if (capture == nullptr) return MMSYSERR_INVALHANDLE;
    if (!capture->queue.empty()) return WAVERR_STILLPLAYING;
    snd_pcm_close(capture->pcm);
    captures_.erase(handle);
    updateTimer();
    return MMSYSERR_NOERROR;
}

std::string AlsaWaveIn::errorText(MMResult result, std::uint32_t maxChars) {
    std::string text;
    switch (result) {
        case MMSYSERR_NOERROR:
            text = "The specified command was carried out.";
            break;
        case MMSYSERR_BADDEVICEID:
            text = "The sound capture device cannot be opened.";
            break;
        case MMSYSERR_INVALHANDLE:
            text = "The specified device handle is invalid.";
            break;
        case MMSYSERR_NOMEM:
            text = "Not enough memory.";
            break;
        case MMSYSERR_INVALPARAM:
            text = "An invalid parameter was passed.";
            break;
        case WAVERR_BADFORMAT:
            text = "The sound capture device does not take this format.";
            break;
        case WAVERR_STILLPLAYING:
            text = "The device is still capturing into its buffers.";
            break;
        case WAVERR_UNPREPARED:
            text = "The buffer was not prepared.";
            break;
        default:
            text = "Unknown error " + std::to_string(result) + ".";
            break;
    }
    if (maxChars == 0) return {};
    if (text.size() > maxChars - 1) text.resize(maxChars - 1);
    return text;
}

void AlsaWaveIn::poll() {
    for (auto& [handle, capture] : captures_) {
        while (capture.running && !capture.queue.empty()) {
            WaveHeader* h = capture.queue.front();
            const std::uint32_t room = h->dwBufferLength - h->dwBytesRecorded;
            const snd_pcm_uframes_t frames = room / capture.frameBytes;
            snd_pcm_sframes_t got =
                frames == 0 ? 0
                            : snd_pcm_readi(capture.pcm, h->lpData + h->dwBytesRecorded, frames);
            if (got == -EPIPE) {
                // An overrun: start again and carry on with the same block.
                snd_pcm_prepare(capture.pcm);
                snd_pcm_start(capture.pcm);
                break;
            }
            if (got < 0) break;  // -EAGAIN: nothing more for now
            h->dwBytesRecorded += static_cast<std::uint32_t>(got) * capture.frameBytes;
            if (h->dwBufferLength - h->dwBytesRecorded < capture.frameBytes) {
                capture.queue.pop_front();
                h->dwFlags = (h->dwFlags & ~WHDR_INQUEUE) | WHDR_DONE;
            } else if (got == 0) {
                break;
            }
        }
    }
}

void AlsaWaveIn::updateTimer() {
    const bool any = std::any_of(captures_.begin(), captures_.end(),
                                 [](const auto& entry) { return entry.second.running; });
    if (any && !timer_) {
        timer_ = std::make_unique<QTimer>();
        QObject::connect(timer_.get(), &QTimer::timeout, [this] { poll(); });
        timer_->start(kPollMs);
    } else if (!any && timer_) {
        timer_.reset();
    }
}

}  // namespace vexlo::linux_platform
