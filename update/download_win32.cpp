// Windows: downloads through the URL moniker service. Every transfer wraps the
// shared `downloader` in a callback of its own that bounds the transfer's time
// (a watchdog aborts the binding of a silent or trickling store), asks for the
// rest of a cut-off file and learns the answer's status. A fetch pulls the
// answer as a stream and writes the partial file itself; the plain download
// lets the moniker write its file.
#include <windows.h>
#include <urlmon.h>
#include <wininet.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <thread>
#include <vector>

#include "base/diagnostics.h"
#include "base/file_platform.h"
#include "base/file_utils.h"
#include "base/system_libraries_win32.h"
#include "base/text_utils.h"
#include "update/download_platform.h"
#include "update/downloader_win32.h"
#include "update/transfer_rate.h"

namespace starfell {

Downloader downloader;

Downloader& unshownDownloader() {
    static Downloader* instance = new Downloader;  // never destroyed: workers may outlive exit()
    return *instance;
}

std::int32_t downloadPercent() { return downloader.percent.load(std::memory_order_relaxed); }

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
    if (this == &downloader) downloadTransferRate().record(progress, progressMax);
    return S_OK;
}
HRESULT Downloader::OnStopBinding(HRESULT, LPCWSTR) { return E_NOTIMPL; }
HRESULT Downloader::GetBindInfo(DWORD*, BINDINFO*) { return E_NOTIMPL; }
HRESULT Downloader::OnDataAvailable(DWORD, DWORD, FORMATETC*, STGMEDIUM*) { return E_NOTIMPL; }
HRESULT Downloader::OnObjectAvailable(REFIID, IUnknown*) { return E_NOTIMPL; }

namespace {

using download_platform::Attempt;
using Clock = std::chrono::steady_clock;

// The same bounds as the POSIX build: no request sent within kConnectTimeout,
// or fewer than kLowSpeedBytes a second over a whole kLowSpeedWindow, ends the
// transfer. There is no cap on the whole transfer.
constexpr auto kConnectTimeout = std::chrono::seconds(20);
constexpr std::uint64_t kLowSpeedBytes = 1024;
constexpr auto kLowSpeedWindow = std::chrono::seconds(30);
constexpr auto kWatchdogTick = std::chrono::milliseconds(250);

// urlmon and wininet are taken from the system folder only (never the game
// folder's copies), so they are not in the import table.
struct UrlFunctions {
    decltype(&URLDownloadToFileW) downloadWide = systemFunction<decltype(downloadWide)>(L"urlmon.dll", "URLDownloadToFileW");
    decltype(&URLDownloadToFileA) downloadNarrow = systemFunction<decltype(downloadNarrow)>(L"urlmon.dll", "URLDownloadToFileA");
    decltype(&CreateURLMoniker) moniker = systemFunction<decltype(moniker)>(L"urlmon.dll", "CreateURLMoniker");
    decltype(&CreateAsyncBindCtx) bindContext = systemFunction<decltype(bindContext)>(L"urlmon.dll", "CreateAsyncBindCtx");
    decltype(&DeleteUrlCacheEntryW) forgetWide = systemFunction<decltype(forgetWide)>(L"wininet.dll", "DeleteUrlCacheEntryW");
    decltype(&DeleteUrlCacheEntryA) forgetNarrow = systemFunction<decltype(forgetNarrow)>(L"wininet.dll", "DeleteUrlCacheEntryA");
};

const UrlFunctions& urlFunctions() {
    static const UrlFunctions functions;
    return functions;
}

std::string headerValue(const std::wstring& headers, const wchar_t* name) {
    const std::wstring wanted = std::wstring(L"\r\n") + name + L":";
    std::wstring all = L"\r\n" + headers;
    std::wstring lower = all, lowerWanted = wanted;
    for (wchar_t& c : lower) c = static_cast<wchar_t>(towlower(c));
    for (wchar_t& c : lowerWanted) c = static_cast<wchar_t>(towlower(c));
    const size_t at = lower.find(lowerWanted);
    if (at == std::wstring::npos) return {};
    size_t start = all.find_first_not_of(L" \t", at + wanted.size());
    size_t end = all.find(L"\r\n", at + wanted.size());
    if (start == std::wstring::npos || start >= end) return {};
    return wideToUtf8(all.substr(start, end - start));
}

// The callback of one transfer: bounds its time, adds the range headers and
// records the answer, and passes progress on to the shared `downloader`. It
// lives on the stack of the call that blocks until the transfer has ended, so
// it keeps no reference count.
class BoundedTransfer : public IBindStatusCallback, public IHttpNegotiate {
public:
    BoundedTransfer(Downloader& progress, std::uint64_t kept, const std::string& validator)
        : progress_(progress), kept_(kept), validator_(validator) {}
    ~BoundedTransfer() { stopWatchdog(); }

    STDMETHODIMP QueryInterface(REFIID riid, void** object) override {
        if (!object) return E_POINTER;
        if (IsEqualIID(riid, IID_IUnknown) || IsEqualIID(riid, IID_IBindStatusCallback))
            *object = static_cast<IBindStatusCallback*>(this);
        else if (IsEqualIID(riid, IID_IHttpNegotiate))
            *object = static_cast<IHttpNegotiate*>(this);
        else {
            *object = nullptr;
            return E_NOINTERFACE;
        }
        return S_OK;
    }
    STDMETHODIMP_(ULONG) AddRef() override { return 1; }
    STDMETHODIMP_(ULONG) Release() override { return 1; }

    STDMETHODIMP OnStartBinding(DWORD, IBinding* binding) override {
        std::lock_guard<std::mutex> lock(mutex_);
        if (binding && !binding_) {
            binding_ = binding;
            binding_->AddRef();
            watchdog_ = std::thread([this] { watch(); });
        }
        return S_OK;
    }
    STDMETHODIMP GetPriority(LONG*) override { return E_NOTIMPL; }
    STDMETHODIMP OnLowResource(DWORD) override { return E_NOTIMPL; }
    STDMETHODIMP OnProgress(ULONG progress, ULONG progressMax, ULONG statusCode, LPCWSTR statusText) override {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            if (statusCode == BINDSTATUS_SENDINGREQUEST) requestSent_ = true;
            if (progress > received_) received_ = progress;
        }
        // A continued file shows its progress as a share of the whole file.
        const std::uint64_t before = status_ == 206 ? kept_ : 0;
        progress_.OnProgress(static_cast<ULONG>(before + progress), progressMax ? static_cast<ULONG>(before + progressMax) : 0,
                             statusCode, statusText);
        std::lock_guard<std::mutex> lock(mutex_);
        if (overdue(Clock::now())) return E_ABORT;
        return S_OK;
    }
    STDMETHODIMP OnStopBinding(HRESULT, LPCWSTR) override {
        stopWatchdog();
        return S_OK;
    }
    STDMETHODIMP GetBindInfo(DWORD*, BINDINFO*) override { return E_NOTIMPL; }
    STDMETHODIMP OnDataAvailable(DWORD, DWORD, FORMATETC*, STGMEDIUM*) override { return E_NOTIMPL; }
    STDMETHODIMP OnObjectAvailable(REFIID, IUnknown*) override { return E_NOTIMPL; }

    // Asked for by the moniker before the request goes out.
    STDMETHODIMP BeginningTransaction(LPCWSTR, LPCWSTR, DWORD, LPWSTR* additionalHeaders) override {
        if (!additionalHeaders) return E_POINTER;
        *additionalHeaders = nullptr;
        if (kept_ == 0) return S_OK;
        const std::wstring headers = L"Range: bytes=" + std::to_wstring(kept_) + L"-\r\nIf-Range: " +
                                     utf8ToWide(validator_) + L"\r\n";
        const size_t bytes = (headers.size() + 1) * sizeof(wchar_t);
        auto* copy = static_cast<LPWSTR>(CoTaskMemAlloc(bytes));
        if (!copy) return E_OUTOFMEMORY;
        std::memcpy(copy, headers.c_str(), bytes);
        *additionalHeaders = copy;
        return S_OK;
    }
    STDMETHODIMP OnResponse(DWORD status, LPCWSTR responseHeaders, LPCWSTR, LPWSTR* additionalHeaders) override {
        if (additionalHeaders) *additionalHeaders = nullptr;
        status_ = status;
        const std::wstring headers = responseHeaders ? responseHeaders : L"";
        const std::string tag = headerValue(headers, L"ETag");
        validatorSeen_ = !tag.empty() && tag.rfind("W/", 0) != 0 ? tag : headerValue(headers, L"Last-Modified");
        const std::string range = headerValue(headers, L"Content-Range");
        if (range.rfind("bytes ", 0) == 0) rangeStart_ = range.substr(6, range.find('-') - 6);
        announced_ = std::strtoull(headerValue(headers, L"Content-Length").c_str(), nullptr, 10);
        return S_OK;
    }

    void stopWatchdog() {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            stopping_ = true;
        }
        wake_.notify_all();
        if (watchdog_.joinable() && watchdog_.get_id() != std::this_thread::get_id()) watchdog_.join();
        std::lock_guard<std::mutex> lock(mutex_);
        if (binding_) {
            binding_->Release();
            binding_ = nullptr;
        }
    }

    DWORD status() const { return status_; }
    std::uint64_t kept() const { return kept_; }
    const std::string& validatorSeen() const { return validatorSeen_; }
    bool continuesKeptBytes() const { return status_ == 206 && rangeStart_ == std::to_string(kept_); }
    // Wine's moniker reports a transfer that the store cut off (fewer bytes
    // than announced, or no answer at all) as a success.
    bool cutShort(std::uint64_t arrived) const { return status_ == 0 || (announced_ && arrived < announced_); }

private:
    // True when the transfer has had its time: no request sent within the
    // connect limit, or too few bytes over the last whole window.
    // Called with `mutex_` held.
    bool overdue(Clock::time_point now) {
        if (!requestSent_ && received_ == 0 && now - started_ >= kConnectTimeout) return true;
        if (now - windowStart_ < kLowSpeedWindow) return false;
        const auto seconds = std::chrono::duration_cast<std::chrono::seconds>(kLowSpeedWindow).count();
        if (received_ - windowBytes_ < kLowSpeedBytes * static_cast<std::uint64_t>(seconds)) return true;
        windowStart_ = now;
        windowBytes_ = received_;
        return false;
    }

    // A store that sends nothing at all brings no progress report to end the
    // transfer from, so this thread aborts the binding instead.
    void watch() {
        std::unique_lock<std::mutex> lock(mutex_);
        while (!stopping_) {
            wake_.wait_for(lock, kWatchdogTick);
            if (stopping_ || !overdue(Clock::now())) continue;
            // Abort may report the end of the binding at once, which takes the lock.
            IBinding* binding = binding_;
            binding->AddRef();
            lock.unlock();
            binding->Abort();
            binding->Release();
            return;
        }
    }

    Downloader& progress_;
    const std::uint64_t kept_;
    const std::string validator_;
    std::mutex mutex_;
    std::condition_variable wake_;
    std::thread watchdog_;
    IBinding* binding_ = nullptr;
    bool stopping_ = false;
    bool requestSent_ = false;
    const Clock::time_point started_ = Clock::now();
    Clock::time_point windowStart_ = started_;
    std::uint64_t received_ = 0, windowBytes_ = 0;
    std::atomic<DWORD> status_{0};
    std::string validatorSeen_, rangeStart_;
    std::uint64_t announced_ = 0;
};

// The callback of one transfer into the partial file. The binding runs
// asynchronously and hands its answer over as a stream that this side pulls,
// so each piece lands at its place in the file as it arrives (and is declared
// final to the digest), and no cache copy of the file is written.
class StreamedTransfer : public BoundedTransfer {
public:
    StreamedTransfer(Downloader& progress, std::uint64_t kept, const std::string& validator, HANDLE file,
                     GrowingFileDigest* digest, std::uint64_t limit)
        : BoundedTransfer(progress, kept, validator), file_(file), digest_(digest), limit_(limit), buffer_(kPiece) {}

    STDMETHODIMP GetBindInfo(DWORD* flags, BINDINFO* info) override {
        if (!flags || !info) return E_POINTER;
        *flags = BINDF_ASYNCHRONOUS | BINDF_ASYNCSTORAGE | BINDF_PULLDATA | BINDF_NOWRITECACHE |
                 BINDF_GETNEWESTVERSION;
        const ULONG size = info->cbSize;
        std::memset(info, 0, size);
        info->cbSize = size;
        info->dwBindVerb = BINDVERB_GET;
        return S_OK;
    }
    // Takes everything the stream holds now; a failure ends the binding.
    STDMETHODIMP OnDataAvailable(DWORD, DWORD, FORMATETC*, STGMEDIUM* medium) override {
        if (!medium || medium->tymed != TYMED_ISTREAM || !medium->pstm) return S_OK;
        for (;;) {
            ULONG got = 0;
            const HRESULT read = medium->pstm->Read(buffer_.data(), static_cast<ULONG>(buffer_.size()), &got);
            if (got > 0 && !writeBody(got)) return E_ABORT;
            if (read != S_OK || got == 0) return S_OK;
        }
    }
    STDMETHODIMP OnStopBinding(HRESULT result, LPCWSTR error) override {
        result_ = result;
        BoundedTransfer::OnStopBinding(result, error);
        stopped_.store(true);
        return S_OK;
    }

    bool stopped() const { return stopped_.load(); }
    HRESULT result() const { return result_; }
    bool bodyStarted() const { return bodyStarted_; }
    bool wrongRange() const { return wrongRange_; }
    bool writeFailed() const { return writeFailed_; }
    bool tooLarge() const { return tooLarge_; }
    std::uint64_t arrived() const { return end_ - start_; }

private:
    static constexpr size_t kPiece = 256 * 1024;

    // Decides, at the first byte of the body, where it goes: after the kept
    // bytes for a partial answer that continues them, over the whole file for
    // a full one.
    bool startBody() {
        bodyStarted_ = true;
        if (status() == 206) {
            if (!continuesKeptBytes()) {
                wrongRange_ = true;
                return false;
            }
            start_ = kept();
            if (digest_) digest_->finalUpTo(start_);
        } else {
            start_ = 0;
            if (digest_) digest_->startOver();
        }
        end_ = start_;
        LARGE_INTEGER at;
        at.QuadPart = static_cast<LONGLONG>(start_);
        writeFailed_ = !SetFilePointerEx(file_, at, nullptr, FILE_BEGIN) || (start_ == 0 && !SetEndOfFile(file_));
        return !writeFailed_;
    }

    // An error page's body is dropped, so it never replaces kept bytes.
    bool writeBody(ULONG size) {
        if (status() >= 300) return true;
        if (!bodyStarted_ && !startBody()) return false;
        if (size > limit_ - end_) {
            tooLarge_ = true;
            return false;
        }
        DWORD written = 0;
        if (!WriteFile(file_, buffer_.data(), size, &written, nullptr) || written != size) {
            writeFailed_ = true;
            return false;
        }
        end_ += size;
        if (digest_) digest_->finalUpTo(end_);
        return true;
    }

    const HANDLE file_;
    GrowingFileDigest* const digest_;
    const std::uint64_t limit_;
    std::vector<char> buffer_;
    std::uint64_t start_ = 0, end_ = 0;
    bool bodyStarted_ = false, wrongRange_ = false, writeFailed_ = false, tooLarge_ = false;
    HRESULT result_ = S_OK;
    std::atomic<bool> stopped_{false};
};

// An asynchronous binding needs a single-threaded apartment on the thread
// that starts it; a thread that already has one keeps it.
struct Apartment {
    const HRESULT entered = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    ~Apartment() {
        if (SUCCEEDED(entered)) CoUninitialize();
    }
};

// Runs the transfer on this thread until its binding has ended: an
// asynchronous binding reports through messages to the thread that began it.
HRESULT bindAndWait(const UrlFunctions& system, const std::wstring& url, StreamedTransfer& transfer) {
    if (!system.moniker || !system.bindContext) return E_NOTIMPL;
    const Apartment apartment;
    IMoniker* moniker = nullptr;
    HRESULT result = system.moniker(nullptr, url.c_str(), &moniker);
    if (FAILED(result)) return result;
    IBindCtx* context = nullptr;
    result = system.bindContext(0, &transfer, nullptr, &context);
    if (SUCCEEDED(result)) {
        IStream* stream = nullptr;
        result = moniker->BindToStorage(context, nullptr, IID_IStream, reinterpret_cast<void**>(&stream));
        if (stream) stream->Release();
        if (SUCCEEDED(result)) {
            MSG message;
            while (!transfer.stopped()) {
                MsgWaitForMultipleObjects(0, nullptr, FALSE, 100, QS_ALLINPUT);
                while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
                    TranslateMessage(&message);
                    DispatchMessageW(&message);
                }
            }
            result = transfer.result();
        }
        context->Release();
    }
    moniker->Release();
    return result;
}

std::uint64_t fileSize(HANDLE file) {
    LARGE_INTEGER size;
    return GetFileSizeEx(file, &size) ? static_cast<std::uint64_t>(size.QuadPart) : 0;
}

void reportFailure(const std::string& url, long code) {
    writeDiagnostic("Download failed for: " + url + " HRESULT: " + std::to_string(code));
}

// Opens the partial file for writing, shared only for reading (the digest
// reads back what is final while it grows). A new partial file is a new
// file: whatever had the name (a link, a second name of another file) is
// removed, not written through; kept bytes are continued only in a plain file
// of one name.
HANDLE openPartialFile(const std::wstring& partial, bool continuing) {
    // The digest's reader may still hold the old file for a moment.
    if (!continuing && !deleteFileWithRetries(partial)) return INVALID_HANDLE_VALUE;
    const HANDLE file = CreateFileW(partial.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr,
                                    continuing ? OPEN_ALWAYS : CREATE_NEW,
                                    FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    if (file == INVALID_HANDLE_VALUE) return file;
    BY_HANDLE_FILE_INFORMATION info;
    if (!GetFileInformationByHandle(file, &info) || (info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) ||
        info.nNumberOfLinks != 1) {
        CloseHandle(file);
        return INVALID_HANDLE_VALUE;
    }
    return file;
}

}  // namespace

namespace download_platform {

Attempt transferPart(Downloader& progress, const std::string& url, const std::wstring& partial,
                     std::string& validator, GrowingFileDigest* digest, std::uint64_t limit) {
    const UrlFunctions& system = urlFunctions();
    const std::wstring wideUrl = utf8ToWide(url);
    // A file that changed on the server must be fetched anew, not from the cache.
    if (system.forgetWide) system.forgetWide(wideUrl.c_str());
    // Kept bytes count only with a validator to ask for the rest with.
    if (digest && validator.empty()) digest->startOver();
    const HANDLE file = openPartialFile(partial, !validator.empty());
    if (file == INVALID_HANDLE_VALUE) {
        reportFailure(url, -static_cast<long>(STG_E_WRITEFAULT));
        return Attempt::LocalFailure;
    }
    const std::uint64_t kept = validator.empty() ? 0 : fileSize(file);

    StreamedTransfer transfer(progress, kept, validator, file, digest, limit);
    HRESULT result = bindAndWait(system, wideUrl, transfer);
    transfer.stopWatchdog();
    if (!CloseHandle(file) && SUCCEEDED(result)) result = STG_E_WRITEFAULT;
    const DWORD status = transfer.status();

    // A full answer replaced the kept bytes only once its body began.
    if (status == 200 && transfer.bodyStarted()) validator = transfer.validatorSeen();
    if (transfer.wrongRange() || (status == 206 && !transfer.continuesKeptBytes())) {
        validator.clear();
        reportFailure(url, -static_cast<long>(E_UNEXPECTED));
        return Attempt::CutOff;
    }
    if (transfer.tooLarge()) {
        reportTooLarge(url, limit);
        return Attempt::TooLarge;
    }
    if (transfer.writeFailed()) {
        reportFailure(url, -static_cast<long>(STG_E_WRITEFAULT));
        return Attempt::LocalFailure;
    }
    if (status >= 400) {
        reportFailure(url, -static_cast<long>(status));
        // 416: the kept bytes do not fit the file any more; 5xx: the store's own trouble.
        if (status == 416) validator.clear();
        if (status == 416 || status >= 500 || status == 408 || status == 429) return Attempt::CutOff;
        return Attempt::Missing;
    }
    // What did arrive of a cut-off answer stays in the partial file.
    if (SUCCEEDED(result) && transfer.cutShort(transfer.arrived())) result = INET_E_DOWNLOAD_FAILURE;
    if (FAILED(result)) {
        reportFailure(url, static_cast<long>(result));
        return result == INET_E_UNKNOWN_PROTOCOL || result == INET_E_INVALID_URL ? Attempt::Missing : Attempt::CutOff;
    }
    // An empty body never started: the file must still be emptied.
    if (!transfer.bodyStarted() && status != 206) {
        if (digest) digest->startOver();
        const HANDLE emptied = CreateFileW(partial.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, TRUNCATE_EXISTING,
                                           FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
        if (emptied == INVALID_HANDLE_VALUE) {
            reportFailure(url, -static_cast<long>(STG_E_WRITEFAULT));
            return Attempt::LocalFailure;
        }
        CloseHandle(emptied);
    }
    return Attempt::Complete;
}

}  // namespace download_platform

void downloadFile(Downloader& callback, const std::wstring& url, const std::wstring& destination) {
    const UrlFunctions& system = urlFunctions();
    if (system.forgetWide) system.forgetWide(url.c_str());
    if (!deleteFileWithRetries(destination)) {
        writeDiagnostic(L"Failed to prepare file for download: " + destination);
        return;
    }
    BoundedTransfer transfer(callback, 0, {});
    const HRESULT result = system.downloadWide ? system.downloadWide(nullptr, url.c_str(), destination.c_str(), 0, &transfer)
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
    BoundedTransfer transfer(callback, 0, {});
    const HRESULT result = system.downloadNarrow
                               ? system.downloadNarrow(nullptr, url.c_str(), destination.c_str(), 0, &transfer)
                               : E_NOTIMPL;
    if (FAILED(result))
        writeDiagnostic("Download failed for: " + url + " HRESULT: " + std::to_string(static_cast<long>(result)));
}

}  // namespace starfell
