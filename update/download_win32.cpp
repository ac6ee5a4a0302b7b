// Windows: the transfer through the URL moniker service. Every transfer wraps
// the shared `downloader` in a callback of its own that bounds the transfer's
// time (a watchdog aborts the binding of a silent or trickling store), asks
// for the rest of a cut-off file, learns the answer's head and pulls the body
// as a stream into the shared body writer.
#include <windows.h>
#include <urlmon.h>
#include <wininet.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "base/diagnostics.h"
#include "base/file_platform.h"
#include "base/file_utils.h"
#include "base/system_libraries_win32.h"
#include "base/text_utils.h"
#include "update/download_platform.h"

namespace starfell {

namespace download_platform {

namespace {

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
    decltype(&CreateURLMoniker) moniker = systemFunction<decltype(moniker)>(L"urlmon.dll", "CreateURLMoniker");
    decltype(&CreateAsyncBindCtx) bindContext = systemFunction<decltype(bindContext)>(L"urlmon.dll", "CreateAsyncBindCtx");
    decltype(&DeleteUrlCacheEntryW) forgetWide = systemFunction<decltype(forgetWide)>(L"wininet.dll", "DeleteUrlCacheEntryW");
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

// The callback of one transfer: bounds its time, adds the range headers,
// records the answer's head, passes progress on to the shared `downloader`,
// and pulls the body as a stream (no cache copy is written) into the body
// writer as it arrives. It is counted like any COM object: the moniker may
// release it, or report to it, after the binding has ended and the call that
// waited for it has returned (Wine does after a transfer cut off at its size
// limit). Once detached it touches nothing of that call's.
class MonikerTransfer final : public IBindStatusCallback, public IHttpNegotiate {
public:
    MonikerTransfer(Downloader& progress, const std::string& validator, AnswerHead& head, BodyWriter& body)
        : progress_(progress), validator_(validator), head_(head), body_(body), buffer_(kPiece) {}
    ~MonikerTransfer() { stopWatchdog(); }

    // The waiting call is over: later reports are refused.
    void detach() { detached_ = true; }

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
        AddRef();
        return S_OK;
    }
    STDMETHODIMP_(ULONG) AddRef() override { return ++references_; }
    STDMETHODIMP_(ULONG) Release() override {
        const ULONG left = --references_;
        if (left == 0) delete this;
        return left;
    }

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
    STDMETHODIMP OnProgress(ULONG progress, ULONG progressMax, ULONG statusCode, LPCWSTR) override {
        if (detached_) return E_ABORT;
        {
            std::lock_guard<std::mutex> lock(mutex_);
            if (statusCode == BINDSTATUS_SENDINGREQUEST) requestSent_ = true;
            if (progress > received_) received_ = progress;
        }
        // A continued file shows its progress as a share of the whole file.
        const std::uint64_t before = status_ == 206 ? body_.kept() : 0;
        progress_.OnProgress(before + progress, progressMax ? before + progressMax : 0);
        std::lock_guard<std::mutex> lock(mutex_);
        if (overdue(Clock::now())) return E_ABORT;
        return S_OK;
    }
    STDMETHODIMP OnStopBinding(HRESULT result, LPCWSTR) override {
        result_ = result;
        stopWatchdog();
        stopped_.store(true);
        return S_OK;
    }
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
        if (detached_) return E_ABORT;
        if (!medium || medium->tymed != TYMED_ISTREAM || !medium->pstm) return S_OK;
        for (;;) {
            ULONG got = 0;
            const HRESULT read = medium->pstm->Read(buffer_.data(), static_cast<ULONG>(buffer_.size()), &got);
            if (got > 0 && !body_.write(head_, buffer_.data(), got)) return E_ABORT;
            if (read != S_OK || got == 0) return S_OK;
        }
    }
    STDMETHODIMP OnObjectAvailable(REFIID, IUnknown*) override { return E_NOTIMPL; }

    // Asked for by the moniker before the request goes out.
    STDMETHODIMP BeginningTransaction(LPCWSTR, LPCWSTR, DWORD, LPWSTR* additionalHeaders) override {
        if (!additionalHeaders) return E_POINTER;
        *additionalHeaders = nullptr;
        if (detached_) return E_ABORT;
        if (body_.kept() == 0) return S_OK;
        const std::wstring headers = L"Range: bytes=" + std::to_wstring(body_.kept()) + L"-\r\nIf-Range: " +
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
        if (detached_) return E_ABORT;
        const std::wstring headers = responseHeaders ? responseHeaders : L"";
        head_.status = static_cast<long>(status);
        head_.entityTag = headerValue(headers, L"ETag");
        head_.lastModified = headerValue(headers, L"Last-Modified");
        const std::string range = headerValue(headers, L"Content-Range");
        if (range.rfind("bytes ", 0) == 0) head_.rangeStart = range.substr(6, range.find('-') - 6);
        announced_ = std::strtoull(headerValue(headers, L"Content-Length").c_str(), nullptr, 10);
        status_ = status;
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

    bool stopped() const { return stopped_.load(); }
    HRESULT result() const { return result_; }
    // Wine's moniker reports a transfer that the store cut off (fewer bytes
    // than announced, or no answer at all) as a success.
    bool cutShort() const {
        return status_ == 0 || (announced_ && body_.end() - body_.start() < announced_);
    }

private:
    static constexpr size_t kPiece = 256 * 1024;

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
    const std::string validator_;
    AnswerHead& head_;
    BodyWriter& body_;
    std::vector<char> buffer_;
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
    std::uint64_t announced_ = 0;
    HRESULT result_ = S_OK;
    std::atomic<bool> stopped_{false};
    std::atomic<bool> detached_{false};
    std::atomic<ULONG> references_{1};
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
HRESULT bindAndWait(const UrlFunctions& system, const std::wstring& url, MonikerTransfer& transfer) {
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

// The partial file through a handle shared only for reading: the digest reads
// back what is final while it grows.
class HandleFile : public PartialFile {
public:
    explicit HandleFile(HANDLE file) : file_(file) {}
    ~HandleFile() override { close(); }

    std::uint64_t size() override {
        LARGE_INTEGER size;
        return GetFileSizeEx(file_, &size) ? static_cast<std::uint64_t>(size.QuadPart) : 0;
    }
    bool seek(std::uint64_t offset) override {
        LARGE_INTEGER at;
        at.QuadPart = static_cast<LONGLONG>(offset);
        return SetFilePointerEx(file_, at, nullptr, FILE_BEGIN);
    }
    bool truncateHere() override { return SetEndOfFile(file_); }
    bool write(const char* data, std::size_t size) override {
        DWORD written = 0;
        return WriteFile(file_, data, static_cast<DWORD>(size), &written, nullptr) && written == size;
    }
    bool close() override {
        if (file_ == INVALID_HANDLE_VALUE) return true;
        const bool closed = CloseHandle(file_);
        file_ = INVALID_HANDLE_VALUE;
        return closed;
    }

private:
    HANDLE file_;
};

}  // namespace

const long kWriteFailureCode = -static_cast<long>(STG_E_WRITEFAULT);
const long kWrongRangeCode = -static_cast<long>(E_UNEXPECTED);

std::unique_ptr<PartialFile> openPartialFile(const std::wstring& partial, bool continuing) {
    // The digest's reader may still hold the old file for a moment.
    if (!continuing && !deleteFileWithRetries(partial)) return nullptr;
    const HANDLE file = CreateFileW(partial.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr,
                                    continuing ? OPEN_ALWAYS : CREATE_NEW,
                                    FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    if (file == INVALID_HANDLE_VALUE) return nullptr;
    auto opened = std::make_unique<HandleFile>(file);
    BY_HANDLE_FILE_INFORMATION info;
    if (!GetFileInformationByHandle(file, &info) || (info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) ||
        info.nNumberOfLinks != 1)
        return nullptr;
    return opened;
}

Transport sendRequest(Downloader& progress, const std::string& url, const std::string& validator,
                      AnswerHead& head, BodyWriter& body, long& code) {
    const UrlFunctions& system = urlFunctions();
    const std::wstring wideUrl = utf8ToWide(url);
    // A file that changed on the server must be fetched anew, not from the cache.
    if (system.forgetWide) system.forgetWide(wideUrl.c_str());
    auto* transfer = new MonikerTransfer(progress, validator, head, body);
    HRESULT result = bindAndWait(system, wideUrl, *transfer);
    transfer->stopWatchdog();
    // What did arrive of a cut-off answer stays in the partial file.
    if (SUCCEEDED(result) && head.status < 300 && transfer->cutShort()) result = INET_E_DOWNLOAD_FAILURE;
    transfer->detach();
    transfer->Release();
    code = static_cast<long>(result);
    if (SUCCEEDED(result)) return Transport::Done;
    return result == INET_E_UNKNOWN_PROTOCOL || result == INET_E_INVALID_URL ? Transport::BadAddress
                                                                              : Transport::Failed;
}

}  // namespace download_platform

}  // namespace starfell
