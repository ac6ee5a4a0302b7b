// Windows: downloads through the URL moniker service, progress through the
// shared `downloader` as its IBindStatusCallback.
#include <windows.h>
#include <urlmon.h>
#include <wininet.h>

#include "base/diagnostics.h"
#include "base/file_utils.h"
#include "base/system_libraries_win32.h"
#include "base/text_utils.h"
#include "update/download.h"

namespace starfell {

// The object has static lifetime and no reference count, so every interface
// request is refused and AddRef/Release do nothing.
HRESULT Downloader::QueryInterface(REFIID, void** object) {
    if (object) *object = nullptr;
    return E_NOTIMPL;
}
ULONG Downloader::AddRef() { return 0; }
ULONG Downloader::Release() { return 0; }
HRESULT Downloader::OnStartBinding(DWORD, IBinding*) { return E_NOTIMPL; }
HRESULT Downloader::GetPriority(LONG*) { return E_NOTIMPL; }
HRESULT Downloader::OnLowResource(DWORD) { return E_NOTIMPL; }
HRESULT Downloader::OnProgress(ULONG progress, ULONG progressMax, ULONG, LPCWSTR) {
    percent.store(progressPercent(progress, progressMax, percent.load(std::memory_order_relaxed)),
                  std::memory_order_relaxed);
    return S_OK;
}
HRESULT Downloader::OnStopBinding(HRESULT, LPCWSTR) { return E_NOTIMPL; }
HRESULT Downloader::GetBindInfo(DWORD*, BINDINFO*) { return E_NOTIMPL; }
HRESULT Downloader::OnDataAvailable(DWORD, DWORD, FORMATETC*, STGMEDIUM*) { return E_NOTIMPL; }
HRESULT Downloader::OnObjectAvailable(REFIID, IUnknown*) { return E_NOTIMPL; }

namespace {

// urlmon and wininet are taken from the system folder only (never the game
// folder's copies), so they are not in the import table.
struct UrlFunctions {
    decltype(&URLDownloadToFileW) downloadWide = systemFunction<decltype(downloadWide)>(L"urlmon.dll", "URLDownloadToFileW");
    decltype(&URLDownloadToFileA) downloadNarrow = systemFunction<decltype(downloadNarrow)>(L"urlmon.dll", "URLDownloadToFileA");
    decltype(&DeleteUrlCacheEntryW) forgetWide = systemFunction<decltype(forgetWide)>(L"wininet.dll", "DeleteUrlCacheEntryW");
    decltype(&DeleteUrlCacheEntryA) forgetNarrow = systemFunction<decltype(forgetNarrow)>(L"wininet.dll", "DeleteUrlCacheEntryA");
};

const UrlFunctions& urlFunctions() {
    static const UrlFunctions functions;
    return functions;
}

}  // namespace

void downloadFile(Downloader& callback, const std::wstring& url, const std::wstring& destination) {
    const UrlFunctions& system = urlFunctions();
    // A file that changed on the server must be fetched anew, not from the cache.
    if (system.forgetWide) system.forgetWide(url.c_str());
    if (!deleteFileWithRetries(destination)) {
        writeDiagnostic(L"Failed to prepare file for download: " + destination);
        return;
    }
    const HRESULT result = system.downloadWide ? system.downloadWide(nullptr, url.c_str(), destination.c_str(), 0, &callback)
                                               : E_NOTIMPL;
    if (FAILED(result))
        writeDiagnostic(L"Download failed for: " + url + L" HRESULT: " + std::to_wstring(static_cast<long>(result)));
}

void downloadFile(Downloader& callback, const std::string& url, const std::string& destination) {
    const UrlFunctions& system = urlFunctions();
    if (system.forgetNarrow) system.forgetNarrow(url.c_str());
    if (!deleteFileWithRetries(destination)) {
        writeDiagnostic("Failed to prepare file for download: " + destination);
        return;
    }
    const HRESULT result = system.downloadNarrow
                               ? system.downloadNarrow(nullptr, url.c_str(), destination.c_str(), 0, &callback)
                               : E_NOTIMPL;
    if (FAILED(result))
        writeDiagnostic("Download failed for: " + url + " HRESULT: " + std::to_string(static_cast<long>(result)));
}

}  // namespace starfell
