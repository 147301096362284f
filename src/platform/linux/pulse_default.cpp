#include "platform/linux/pulse_default.h"

#include <pulse/pulseaudio.h>

namespace vexlo::linux_platform {

PulseDefaultWatch::PulseDefaultWatch() {
    loop_ = pa_threaded_mainloop_new();
    if (loop_ == nullptr) return;
    pa_threaded_mainloop_lock(loop_);
    connect();
    pa_threaded_mainloop_unlock(loop_);
    if (pa_threaded_mainloop_start(loop_) < 0) {
        if (context_ != nullptr) pa_context_unref(context_);
        context_ = nullptr;
        pa_threaded_mainloop_free(loop_);
        loop_ = nullptr;
    }
}

PulseDefaultWatch::~PulseDefaultWatch() {
    if (loop_ == nullptr) return;
    pa_threaded_mainloop_stop(loop_);
    pa_mainloop_api* api = pa_threaded_mainloop_get_api(loop_);
    if (retry_ != nullptr) api->time_free(retry_);
    if (context_ != nullptr) {
        pa_context_set_state_callback(context_, nullptr, nullptr);
        pa_context_set_subscribe_callback(context_, nullptr, nullptr);
        pa_context_disconnect(context_);
        pa_context_unref(context_);
    }
    pa_threaded_mainloop_free(loop_);
}

// On the loop's thread (or with its lock held) from here on.

void PulseDefaultWatch::connect() {
    pa_mainloop_api* api = pa_threaded_mainloop_get_api(loop_);
    pa_proplist* props = pa_proplist_new();
    pa_proplist_sets(props, PA_PROP_APPLICATION_NAME, "Vexlo");
    pa_proplist_sets(props, PA_PROP_APPLICATION_ID, "vexlo");
    context_ = pa_context_new_with_proplist(api, "Vexlo", props);
    pa_proplist_free(props);
    if (context_ == nullptr) return;
    pa_context_set_state_callback(context_, &PulseDefaultWatch::onState, this);
    // Never starts a server of its own: a session without one (pipewire-alsa, plain ALSA)
    // must stay so.
    if (pa_context_connect(context_, nullptr, PA_CONTEXT_NOAUTOSPAWN, nullptr) < 0) retryLater();
}

void PulseDefaultWatch::retryLater() {
    if (retry_ != nullptr) return;
    pa_mainloop_api* api = pa_threaded_mainloop_get_api(loop_);
    timeval when {};
    pa_gettimeofday(&when);
    pa_timeval_add(&when, static_cast<pa_usec_t>(kRetryMs) * PA_USEC_PER_MSEC);
    retry_ = api->time_new(api, &when, &PulseDefaultWatch::onRetry, this);
}

void PulseDefaultWatch::onRetry(pa_mainloop_api* api, pa_time_event* event, const timeval*,
                                void* self) {
    auto* watch = static_cast<PulseDefaultWatch*>(self);
    api->time_free(event);
    watch->retry_ = nullptr;
    // The failed context is let go here, outside its own callbacks.
    if (watch->context_ != nullptr) {
        pa_context_set_state_callback(watch->context_, nullptr, nullptr);
        pa_context_set_subscribe_callback(watch->context_, nullptr, nullptr);
        pa_context_disconnect(watch->context_);
        pa_context_unref(watch->context_);
        watch->context_ = nullptr;
    }
    watch->connect();
}

void PulseDefaultWatch::onState(pa_context* context, void* self) {
    auto* watch = static_cast<PulseDefaultWatch*>(self);
    switch (pa_context_get_state(context)) {
        case PA_CONTEXT_READY: {
            pa_context_set_subscribe_callback(
                context,
                [](pa_context* c, pa_subscription_event_type_t type, std::uint32_t index,
                   void* me) { onEvent(c, static_cast<unsigned>(type), index, me); },
                watch);
            pa_operation* op =
                pa_context_subscribe(context, PA_SUBSCRIPTION_MASK_SERVER, nullptr, nullptr);
            if (op != nullptr) pa_operation_unref(op);
            watch->askDefault();
            break;
        }
        case PA_CONTEXT_FAILED:
        case PA_CONTEXT_TERMINATED:
            // The server is gone or was never there: look again in a while.
            watch->retryLater();
            break;
        default:
            break;
    }
}

void PulseDefaultWatch::onEvent(pa_context*, unsigned type, std::uint32_t, void* self) {
    if ((type & PA_SUBSCRIPTION_EVENT_FACILITY_MASK) == PA_SUBSCRIPTION_EVENT_SERVER) {
        static_cast<PulseDefaultWatch*>(self)->askDefault();
    }
}

void PulseDefaultWatch::askDefault() {
    pa_operation* op = pa_context_get_server_info(context_, &PulseDefaultWatch::onServerInfo, this);
    if (op != nullptr) pa_operation_unref(op);
}

void PulseDefaultWatch::onServerInfo(pa_context*, const pa_server_info* info, void* self) {
    if (info == nullptr) return;
    static_cast<PulseDefaultWatch*>(self)->tookDefault(info->default_sink_name);
}

void PulseDefaultWatch::tookDefault(const char* name) {
    const std::string now = name != nullptr ? name : "";
    // The first answer tells where things stand; only a different one later is a change.
    if (known_ && now != default_) changes_.fetch_add(1, std::memory_order_acq_rel);
    known_ = true;
    default_ = now;
}

}  // namespace vexlo::linux_platform
