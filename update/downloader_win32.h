// Windows: the complete `Downloader`, the IBindStatusCallback that the URL
// moniker reports progress to. For the platform's download files and the Windows tests.
#pragma once
#include <urlmon.h>

#include <atomic>
#include <cstdint>

#include "update/download.h"

namespace starfell {

// There is one instance with static lifetime; it keeps no reference count and
// is never freed through the interface. `percent` is never reset: a new
// download shows the previous figure until its own first bytes arrive. Each
// transfer wraps it in a callback of its own that adds the time limits.
class Downloader : public IBindStatusCallback {
public:
    std::atomic<std::int32_t> percent{0};

    STDMETHOD(QueryInterface)(REFIID riid, void** object) override;
    STDMETHOD_(ULONG, AddRef)() override;
    STDMETHOD_(ULONG, Release)() override;
    STDMETHOD(OnStartBinding)(DWORD reserved, IBinding* binding) override;
    STDMETHOD(GetPriority)(LONG* priority) override;
    STDMETHOD(OnLowResource)(DWORD reserved) override;
    STDMETHOD(OnProgress)(ULONG progress, ULONG progressMax, ULONG statusCode, LPCWSTR statusText) override;
    STDMETHOD(OnStopBinding)(HRESULT result, LPCWSTR error) override;
    STDMETHOD(GetBindInfo)(DWORD* bindFlags, BINDINFO* bindInfo) override;
    STDMETHOD(OnDataAvailable)(DWORD flags, DWORD size, FORMATETC* format, STGMEDIUM* medium) override;
    STDMETHOD(OnObjectAvailable)(REFIID riid, IUnknown* object) override;
};

}  // namespace starfell
