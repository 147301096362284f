// Loaded into a running vexlo.exe by vexlo_probe ("mute"), it reads or switches the master
// mute there: the speakers' mute of winmm's mixer device 0, as that process sees it. Wine
// keeps the winmm master per process, so only code in the program's own process can switch
// it as another program switches the system's mute on Windows.
// clang-format off
#include <windows.h>
#include <mmsystem.h>
// clang-format on

namespace {

// The speakers' mute control of the mixer; false when there is none.
bool MuteControl(HMIXER mixer, DWORD& id) {
    MIXERLINEA line {};
    line.cbStruct = sizeof line;
    line.dwComponentType = MIXERLINE_COMPONENTTYPE_DST_SPEAKERS;
    const auto object = reinterpret_cast<HMIXEROBJ>(mixer);
    if (mixerGetLineInfoA(object, &line, MIXER_OBJECTF_HMIXER | MIXER_GETLINEINFOF_COMPONENTTYPE) !=
        0) {
        return false;
    }
    MIXERCONTROLA control {};
    control.cbStruct = sizeof control;
    MIXERLINECONTROLSA request {};
    request.cbStruct = sizeof request;
    request.dwLineID = line.dwLineID;
    request.dwControlType = MIXERCONTROL_CONTROLTYPE_MUTE;
    request.cControls = 1;
    request.cbmxctrl = sizeof control;
    request.pamxctrl = &control;
    if (mixerGetLineControlsA(object, &request,
                              MIXER_OBJECTF_HMIXER | MIXER_GETLINECONTROLSF_ONEBYTYPE) != 0) {
        return false;
    }
    id = control.dwControlID;
    return true;
}

}  // namespace

// A thread's start routine: a parameter of 0 or 1 switches the mute to that, any other only
// reads it. Returns the mute as it then stands (0 or 1), or 0xFFFFFFFF when it cannot be read
// or switched.
extern "C" __declspec(dllexport) DWORD WINAPI VexloProbeMute(void* parameter) {
    const auto wanted = reinterpret_cast<ULONG_PTR>(parameter);
    HMIXER mixer = nullptr;
    if (mixerOpen(&mixer, 0, 0, 0, MIXER_OBJECTF_MIXER) != 0) return 0xFFFFFFFF;
    DWORD result = 0xFFFFFFFF;
    DWORD id = 0;
    if (MuteControl(mixer, id)) {
        MIXERCONTROLDETAILS_BOOLEAN value {};
        MIXERCONTROLDETAILS details {};
        details.cbStruct = sizeof details;
        details.dwControlID = id;
        details.cChannels = 1;
        details.cbDetails = sizeof value;
        details.paDetails = &value;
        const auto object = reinterpret_cast<HMIXEROBJ>(mixer);
        bool ok = true;
        if (wanted <= 1) {
            value.fValue = static_cast<LONG>(wanted);
            ok = mixerSetControlDetails(object, &details,
                                        MIXER_OBJECTF_HMIXER | MIXER_SETCONTROLDETAILSF_VALUE) == 0;
        }
        value.fValue = -1;
        if (ok &&
            mixerGetControlDetailsA(object, &details,
                                    MIXER_OBJECTF_HMIXER | MIXER_GETCONTROLDETAILSF_VALUE) == 0) {
            result = value.fValue ? 1 : 0;
        }
    }
    mixerClose(mixer);
    return result;
}
