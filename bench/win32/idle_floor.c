/* The floor of an idle volume watch on Windows: a bare program that wakes every 5 ms on a
 * periodic waitable timer and reads the default render endpoint's master volume and mute
 * through Core Audio, nothing else. idle.sh measures it beside vexlo.exe.
 *
 *   vexlo_idle_floor.exe        runs until it is ended
 */
#define COBJMACROS
#include <windows.h>
#include <initguid.h>
#include <mmdeviceapi.h>
#include <endpointvolume.h>
#include <stdio.h>

int main(void) {
    IMMDeviceEnumerator* enumerator = NULL;
    IMMDevice* device = NULL;
    IAudioEndpointVolume* volume = NULL;
    if (FAILED(CoInitializeEx(NULL, COINIT_APARTMENTTHREADED)) ||
        FAILED(CoCreateInstance(&CLSID_MMDeviceEnumerator, NULL, CLSCTX_ALL,
                                &IID_IMMDeviceEnumerator, (void**)&enumerator)) ||
        FAILED(IMMDeviceEnumerator_GetDefaultAudioEndpoint(enumerator, eRender, eConsole,
                                                           &device)) ||
        FAILED(IMMDevice_Activate(device, &IID_IAudioEndpointVolume, CLSCTX_ALL, NULL,
                                  (void**)&volume))) {
        fprintf(stderr, "vexlo_idle_floor: no default render endpoint\n");
        return 1;
    }
    HANDLE timer = CreateWaitableTimerA(NULL, FALSE, NULL);
    LARGE_INTEGER due;
    due.QuadPart = -50000; /* 5 ms, in 100 ns units */
    if (timer == NULL || !SetWaitableTimer(timer, &due, 5, NULL, NULL, FALSE)) {
        fprintf(stderr, "vexlo_idle_floor: no timer\n");
        return 1;
    }
    volatile float seen = 0;
    for (;;) {
        if (WaitForSingleObject(timer, INFINITE) != WAIT_OBJECT_0) break;
        float level = 0;
        BOOL mute = FALSE;
        IAudioEndpointVolume_GetMasterVolumeLevelScalar(volume, &level);
        IAudioEndpointVolume_GetMute(volume, &mute);
        seen = level + (float)mute;
    }
    (void)seen;
    return 0;
}
