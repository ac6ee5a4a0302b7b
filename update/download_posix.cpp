// POSIX: downloads through libcurl, progress through the shared `downloader`.
// The body goes to a temporary file in the destination's folder that is
// renamed into place only when the whole transfer succeeded.
#include <curl/curl.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <vector>

#include "base/diagnostics.h"
#include "base/file_utils.h"
#include "base/text_utils.h"
#include "update/download.h"

namespace starfell {

namespace {

// A stalled server must not hold a worker thread for ever: give up when the
// connection takes longer than this, or when fewer than kLowSpeedBytes per
// second arrive for kLowSpeedSeconds in a row. The floor is far below any
// line a player could patch over (a 10 MB patch at 1 KiB/s takes three
// hours), yet high enough that a server trickling a few bytes a second is
// ended too; a line that drops out for half a minute fails the download,
// which the next start fetches again. There is no cap on the whole transfer:
// a large patch over a slow but working line must be allowed to finish.
constexpr long kConnectTimeoutSeconds = 20;
constexpr long kLowSpeedBytes = 1024;
constexpr long kLowSpeedSeconds = 30;

struct Transfer {
    Downloader* downloader;
    int file;
};

// Writes each received piece straight to the file: the pieces are large
// already, and stdio would split them into small writes.
size_t writeBody(char* data, size_t size, size_t count, void* opaque) {
    auto* transfer = static_cast<Transfer*>(opaque);
    const size_t total = size * count;
    for (size_t done = 0; done < total;) {
        const ssize_t written = write(transfer->file, data + done, total - done);
        if (written < 0 && errno == EINTR) continue;
        if (written <= 0) return 0;  // curl then fails the transfer with a write error
        done += static_cast<size_t>(written);
    }
    return total;
}

int reportProgress(void* opaque, curl_off_t total, curl_off_t now, curl_off_t, curl_off_t) {
    auto* transfer = static_cast<Transfer*>(opaque);
    return transfer->downloader->OnProgress(static_cast<std::uint64_t>(now), static_cast<std::uint64_t>(total));
}

// Runs the transfer into `file`; 0 on success, otherwise the negative code
// that the diagnostic line shows.
long transferTo(Downloader& downloader, const std::string& url, int file) {
    static std::once_flag initialised;
    std::call_once(initialised, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });

    CURL* curl = curl_easy_init();
    if (!curl) return -static_cast<long>(CURLE_FAILED_INIT);
    Transfer transfer{&downloader, file};
    curl_easy_setopt(curl, CURLOPT_URL, url.c_str());
    curl_easy_setopt(curl, CURLOPT_PROTOCOLS_STR, "http,https");
    curl_easy_setopt(curl, CURLOPT_REDIR_PROTOCOLS_STR, "http,https");
    curl_easy_setopt(curl, CURLOPT_FOLLOWLOCATION, 1L);
    curl_easy_setopt(curl, CURLOPT_MAXREDIRS, 10L);
    curl_easy_setopt(curl, CURLOPT_NOSIGNAL, 1L);  // worker threads: no SIGALRM for timeouts
    curl_easy_setopt(curl, CURLOPT_CONNECTTIMEOUT, kConnectTimeoutSeconds);
    curl_easy_setopt(curl, CURLOPT_LOW_SPEED_LIMIT, kLowSpeedBytes);
    curl_easy_setopt(curl, CURLOPT_LOW_SPEED_TIME, kLowSpeedSeconds);
    curl_easy_setopt(curl, CURLOPT_BUFFERSIZE, 256L * 1024);
    curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, writeBody);
    curl_easy_setopt(curl, CURLOPT_WRITEDATA, &transfer);
    curl_easy_setopt(curl, CURLOPT_NOPROGRESS, 0L);
    curl_easy_setopt(curl, CURLOPT_XFERINFOFUNCTION, reportProgress);
    curl_easy_setopt(curl, CURLOPT_XFERINFODATA, &transfer);

    long code = 0;
    const CURLcode result = curl_easy_perform(curl);
    long status = 0;
    curl_easy_getinfo(curl, CURLINFO_RESPONSE_CODE, &status);
    if (result != CURLE_OK)
        code = -static_cast<long>(result);
    else if (status >= 400)
        code = -status;
    curl_easy_cleanup(curl);
    return code;
}

void download(Downloader& downloader, const std::string& url, const std::string& destination) {
    // The temporary file sits in the destination's folder so the final rename
    // never crosses file systems. Its name is fixed, so what a download cut
    // off by a killed launcher left behind is replaced by the next attempt
    // instead of piling up.
    const std::string temporary = destination + ".partial";
    unlink(temporary.c_str());
    const int descriptor = open(temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0644);
    if (descriptor < 0) {
        writeDiagnostic("Download failed for: " + url + " HRESULT: " + std::to_string(-static_cast<long>(CURLE_WRITE_ERROR)));
        return;
    }

    long code = transferTo(downloader, url, descriptor);
    if (close(descriptor) != 0 && code == 0) code = -static_cast<long>(CURLE_WRITE_ERROR);
    if (code == 0 && std::rename(temporary.c_str(), destination.c_str()) != 0)
        code = -static_cast<long>(CURLE_WRITE_ERROR);
    if (code != 0) {
        unlink(temporary.c_str());
        writeDiagnostic("Download failed for: " + url + " HRESULT: " + std::to_string(code));
    }
}

}  // namespace

int Downloader::OnProgress(std::uint64_t progress, std::uint64_t progressMax, unsigned long, const wchar_t*) {
    percent.store(progressPercent(progress, progressMax, percent.load(std::memory_order_relaxed)),
                  std::memory_order_relaxed);
    return 0;
}

void downloadFile(Downloader& downloader, const std::wstring& url, const std::wstring& destination) {
    // No URL cache exists here; everything else matches the narrow form.
    if (!deleteFileWithRetries(destination)) {
        writeDiagnostic(L"Failed to prepare file for download: " + destination);
        return;
    }
    download(downloader, wideToUtf8(url), wideToUtf8(destination));
}

void downloadFile(Downloader& downloader, const std::string& url, const std::string& destination) {
    if (!deleteFileWithRetries(destination)) {
        writeDiagnostic("Failed to prepare file for download: " + destination);
        return;
    }
    download(downloader, url, destination);
}

}  // namespace starfell
