// The three Desktop Window Manager functions the Win32 GUI backend refers to,
// resolved from the system folder when first called instead of through the
// import table, which would take a dwmapi.dll planted in the game folder.
// The backend calls them through import slots (`__imp__Name@N`); those slots
// are defined here and point at forwarders.
#include <windows.h>
#include <dwmapi.h>

#include "base/system_libraries_win32.h"

namespace {

template <typename Function>
Function dwmFunction(const char* name) {
    return starfell::systemFunction<Function>(L"dwmapi.dll", name);
}

HRESULT WINAPI isCompositionEnabled(BOOL* enabled) {
    static const auto function = dwmFunction<decltype(&DwmIsCompositionEnabled)>("DwmIsCompositionEnabled");
    return function ? function(enabled) : E_NOTIMPL;
}

HRESULT WINAPI getColorizationColor(DWORD* colour, BOOL* opaque) {
    static const auto function = dwmFunction<decltype(&DwmGetColorizationColor)>("DwmGetColorizationColor");
    return function ? function(colour, opaque) : E_NOTIMPL;
}

HRESULT WINAPI enableBlurBehindWindow(HWND window, const DWM_BLURBEHIND* blur) {
    static const auto function = dwmFunction<decltype(&DwmEnableBlurBehindWindow)>("DwmEnableBlurBehindWindow");
    return function ? function(window, blur) : E_NOTIMPL;
}

}  // namespace

extern "C" {
extern void* const dwmIsCompositionEnabledSlot __asm__("__imp__DwmIsCompositionEnabled@4");
extern void* const dwmGetColorizationColorSlot __asm__("__imp__DwmGetColorizationColor@8");
extern void* const dwmEnableBlurBehindWindowSlot __asm__("__imp__DwmEnableBlurBehindWindow@8");
void* const dwmIsCompositionEnabledSlot = reinterpret_cast<void*>(&isCompositionEnabled);
void* const dwmGetColorizationColorSlot = reinterpret_cast<void*>(&getColorizationColor);
void* const dwmEnableBlurBehindWindowSlot = reinterpret_cast<void*>(&enableBlurBehindWindow);
}
