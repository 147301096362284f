/* The floor of an idle volume watch: a bare program that wakes every 5 ms on a timerfd and
 * reads the master level and mute of ALSA's "default" (the same device and plugin Vexlo
 * reads), nothing else. bench.sh measures it beside Vexlo: what Vexlo costs above this is the
 * price of everything else it does per tick.
 *
 *   vexlo_idle_floor [DEVICE]     runs until it is ended
 */
#include <alsa/asoundlib.h>
#include <stdint.h>
#include <stdio.h>
#include <sys/timerfd.h>
#include <unistd.h>

static void Quiet(const char* file, int line, const char* function, int err, const char* fmt,
                  ...) {
    (void)file, (void)line, (void)function, (void)err, (void)fmt;
}

int main(int argc, char** argv) {
    const char* device = argc > 1 ? argv[1] : "default";
    snd_lib_error_set_handler(Quiet);
    snd_mixer_t* mixer = NULL;
    if (snd_mixer_open(&mixer, 0) < 0 || snd_mixer_attach(mixer, device) < 0 ||
        snd_mixer_selem_register(mixer, NULL, NULL) < 0 || snd_mixer_load(mixer) < 0) {
        fprintf(stderr, "vexlo_idle_floor: cannot open the mixer of %s\n", device);
        return 1;
    }
    snd_mixer_selem_id_t* id = NULL;
    snd_mixer_selem_id_alloca(&id);
    snd_mixer_selem_id_set_name(id, "Master");
    snd_mixer_elem_t* master = snd_mixer_find_selem(mixer, id);
    if (master == NULL) {
        fprintf(stderr, "vexlo_idle_floor: %s has no Master\n", device);
        return 1;
    }
    const int timer = timerfd_create(CLOCK_MONOTONIC, TFD_CLOEXEC);
    const struct itimerspec period = {{0, 5000000}, {0, 5000000}};
    if (timer < 0 || timerfd_settime(timer, 0, &period, NULL) < 0) {
        perror("vexlo_idle_floor: timerfd");
        return 1;
    }
    volatile long seen = 0;
    for (;;) {
        uint64_t expirations = 0;
        if (read(timer, &expirations, sizeof expirations) != sizeof expirations) continue;
        if (snd_mixer_handle_events(mixer) < 0) continue;
        long level = 0;
        int on = 0;
        snd_mixer_selem_get_playback_volume(master, SND_MIXER_SCHN_FRONT_LEFT, &level);
        snd_mixer_selem_get_playback_switch(master, SND_MIXER_SCHN_FRONT_LEFT, &on);
        seen = level + on;
    }
    (void)seen;
    return 0;
}
