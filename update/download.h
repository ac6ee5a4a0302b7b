// Downloads over HTTP with progress: the one process-wide `Downloader`, whose
// whole-percent figure drives the progress bar, and `downloadFile`.
#pragma once
#include <atomic>
#include <cstdint>
#include <string>

#ifdef _WIN32
#include <urlmon.h>
#endif

namespace starfell {

// Whole percent for `received` of `total` bytes, or `previous` when the report
// says nothing new: no bytes yet, or a total that was not announced (0). The
// figure is clamped to 0..100 for a server that sends more than it announced.
std::int32_t progressPercent(std::uint64_t received, std::uint64_t total, std::int32_t previous);

// The progress callback of every download. There is one instance with static
// lifetime; it keeps no reference count and is never freed through the
// interface. `percent` is never reset: a new download shows the previous
// figure until its own first bytes arrive.
#ifdef _WIN32
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
#else
class Downloader {
public:
    std::atomic<std::int32_t> percent{0};

    // Fed by the transfer's progress callback, shaped like the Windows slot
    // (status code and text unused); always returns 0, "go on".
    int OnProgress(std::uint64_t progress, std::uint64_t progressMax, unsigned long statusCode = 0,
                   const wchar_t* statusText = nullptr);
};
#endif

// The process-wide instance that every download reports to.
extern Downloader downloader;

// Clears a cached copy of the URL and any file at the destination, then
// downloads. Failures are written as diagnostic lines only; callers notice a
// missing file later. On Linux a failed transfer (an HTTP status of 400 or
// more included) leaves no file at the destination: its "HRESULT" is the
// negated HTTP status, or the negated transfer error code.
void downloadFile(Downloader& downloader, const std::wstring& url, const std::wstring& destination);
void downloadFile(Downloader& downloader, const std::string& url, const std::string& destination);

}  // namespace starfell
