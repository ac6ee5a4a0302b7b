// POSIX: downloads through libcurl, progress through the shared `downloader`.
// The body goes to a partial file in the destination's folder that becomes
// the file only when the whole transfer succeeded; a cut-off partial file can
// be continued with a range request.
#include <curl/curl.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>

#include "base/diagnostics.h"
#include "base/file_utils.h"
#include "base/text_utils.h"
#include "update/download_platform.h"
#include "update/downloader_posix.h"
#include "update/transfer_rate.h"

namespace starfell {

Downloader downloader;

Downloader& unshownDownloader() {
    static Downloader* instance = new Downloader;  // never destroyed: workers may outlive exit()
    return *instance;
}

std::int32_t downloadPercent() { return downloader.percent.load(std::memory_order_relaxed); }

namespace {

using download_platform::Attempt;

// A stalled server must not hold a worker thread for ever: give up when the
// connection takes longer than this, or when fewer than kLowSpeedBytes per
// second arrive for kLowSpeedSeconds in a row. The floor is far below any
// line a player could patch over (a 10 MB patch at 1 KiB/s takes three
// hours), yet high enough that a server trickling a few bytes a second is
// ended too. There is no cap on the whole transfer: a large patch over a slow
// but working line must be allowed to finish.
constexpr long kConnectTimeoutSeconds = 20;
constexpr long kLowSpeedBytes = 1024;
constexpr long kLowSpeedSeconds = 30;

struct Transfer {
    Downloader* downloader = nullptr;
    int file = -1;
    curl_off_t kept = 0;      // bytes already in the file when the transfer started
    GrowingFileDigest* digest = nullptr;
    curl_off_t offset = 0;    // where this response's body starts in the file
    curl_off_t written = 0;   // where the next byte goes
    bool bodyStarted = false;
    bool wrongRange = false;  // a partial answer that does not continue the file
    bool writeFailed = false;
    bool tooLarge = false;
    curl_off_t limit = 0;     // the file never grows past this
    long status = 0;
    std::string entityTag, lastModified, contentRangeStart;
};

std::string headerValue(const std::string& line, const char* name) {
    const size_t length = std::strlen(name);
    if (line.size() <= length || strncasecmp(line.c_str(), name, length) != 0 || line[length] != ':') return {};
    size_t start = line.find_first_not_of(" \t", length + 1);
    size_t end = line.find_last_not_of(" \t\r\n");
    if (start == std::string::npos || end < start) return {};
    return line.substr(start, end - start + 1);
}

// Each response (redirects included) starts with a status line; only the
// last response's headers count.
size_t readHeader(char* data, size_t size, size_t count, void* opaque) {
    auto* transfer = static_cast<Transfer*>(opaque);
    const std::string line(data, size * count);
    if (line.rfind("HTTP/", 0) == 0) {
        transfer->entityTag.clear();
        transfer->lastModified.clear();
        transfer->contentRangeStart.clear();
        const size_t space = line.find(' ');
        transfer->status = space == std::string::npos ? 0 : std::strtol(line.c_str() + space + 1, nullptr, 10);
    }
    if (std::string value = headerValue(line, "ETag"); !value.empty()) transfer->entityTag = value;
    if (std::string value = headerValue(line, "Last-Modified"); !value.empty()) transfer->lastModified = value;
    if (std::string value = headerValue(line, "Content-Range"); value.rfind("bytes ", 0) == 0)
        transfer->contentRangeStart = value.substr(6, value.find('-') - 6);
    return size * count;
}

// Decides, at the first byte of the body, where it goes: after the kept bytes
// for a partial answer that continues them, over the whole file for a full one.
bool startBody(Transfer& transfer) {
    transfer.bodyStarted = true;
    if (transfer.status == 206) {
        if (transfer.contentRangeStart != std::to_string(transfer.kept)) {
            transfer.wrongRange = true;
            return false;
        }
        transfer.offset = transfer.kept;
        if (transfer.digest) transfer.digest->finalUpTo(static_cast<std::uint64_t>(transfer.kept));
    } else {
        transfer.offset = 0;
        if (transfer.digest) transfer.digest->startOver();
        // Only kept bytes need emptying: on ext4 truncating even an empty file
        // makes its close wait for the whole download to be written out.
        if (transfer.kept > 0 && ftruncate(transfer.file, 0) != 0) return false;
    }
    transfer.written = transfer.offset;
    return lseek(transfer.file, transfer.offset, SEEK_SET) == transfer.offset;
}

// Writes each received piece straight to the file: the pieces are large
// already, and stdio would split them into small writes. An error page's body
// is dropped, so it never replaces kept bytes.
size_t writeBody(char* data, size_t size, size_t count, void* opaque) {
    auto* transfer = static_cast<Transfer*>(opaque);
    const size_t total = size * count;
    if (transfer->status >= 300) return total;
    if (!transfer->bodyStarted && !startBody(*transfer)) return 0;
    if (static_cast<curl_off_t>(total) > transfer->limit - transfer->written) {
        transfer->tooLarge = true;
        return 0;  // curl then ends the transfer
    }
    for (size_t done = 0; done < total;) {
        const ssize_t written = write(transfer->file, data + done, total - done);
        if (written < 0 && errno == EINTR) continue;
        if (written <= 0) {
            transfer->writeFailed = true;
            return 0;  // curl then fails the transfer with a write error
        }
        done += static_cast<size_t>(written);
    }
    transfer->written += static_cast<curl_off_t>(total);
    if (transfer->digest) transfer->digest->finalUpTo(static_cast<std::uint64_t>(transfer->written));
    return total;
}

int reportProgress(void* opaque, curl_off_t total, curl_off_t now, curl_off_t, curl_off_t) {
    auto* transfer = static_cast<Transfer*>(opaque);
    const curl_off_t before = transfer->offset;
    return transfer->downloader->OnProgress(static_cast<std::uint64_t>(before + now),
                                            static_cast<std::uint64_t>(total ? before + total : 0));
}

// A strong entity tag names these exact bytes; otherwise the modification
// date stands in. Weak tags may not be used for ranges.
std::string validatorOf(const Transfer& transfer) {
    if (!transfer.entityTag.empty() && transfer.entityTag.rfind("W/", 0) != 0) return transfer.entityTag;
    return transfer.lastModified;
}

CURLcode perform(Transfer& transfer, const std::string& url, const std::string& validator) {
    static std::once_flag initialised;
    std::call_once(initialised, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });

    CURL* curl = curl_easy_init();
    if (!curl) return CURLE_FAILED_INIT;
    curl_slist* headers = nullptr;
    const std::string range = std::to_string(transfer.kept) + "-";
    if (transfer.kept > 0) {
        curl_easy_setopt(curl, CURLOPT_RANGE, range.c_str());
        headers = curl_slist_append(headers, ("If-Range: " + validator).c_str());
        curl_easy_setopt(curl, CURLOPT_HTTPHEADER, headers);
    }
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
    curl_easy_setopt(curl, CURLOPT_HEADERFUNCTION, readHeader);
    curl_easy_setopt(curl, CURLOPT_HEADERDATA, &transfer);
    curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, writeBody);
    curl_easy_setopt(curl, CURLOPT_WRITEDATA, &transfer);
    curl_easy_setopt(curl, CURLOPT_NOPROGRESS, 0L);
    curl_easy_setopt(curl, CURLOPT_XFERINFOFUNCTION, reportProgress);
    curl_easy_setopt(curl, CURLOPT_XFERINFODATA, &transfer);
    const CURLcode result = curl_easy_perform(curl);
    curl_easy_cleanup(curl);
    curl_slist_free_all(headers);
    return result;
}

// Errors that another try cannot mend: the address itself is unusable.
bool isHopeless(CURLcode result) {
    return result == CURLE_UNSUPPORTED_PROTOCOL || result == CURLE_URL_MALFORMAT ||
           result == CURLE_TOO_MANY_REDIRECTS;
}

void reportFailure(const std::string& url, long code) {
    writeDiagnostic("Download failed for: " + url + " HRESULT: " + std::to_string(code));
}

}  // namespace

namespace download_platform {

Attempt transferPart(Downloader& progress, const std::string& url, const std::wstring& partialPath,
                     std::string& validator, GrowingFileDigest* digest, std::uint64_t limit) {
    const std::string partial = wideToUtf8(partialPath);
    // Kept bytes count only with a validator to ask for the rest with.
    if (digest && validator.empty()) digest->startOver();
    // A new partial file is a new file: whatever had the name (a link to a
    // file elsewhere, a second name of another file) is not written through.
    if (validator.empty() && unlink(partial.c_str()) != 0 && errno != ENOENT) {
        reportFailure(url, -static_cast<long>(CURLE_WRITE_ERROR));
        return Attempt::LocalFailure;
    }
    const int flags = O_WRONLY | O_CREAT | O_NOFOLLOW | O_CLOEXEC | (validator.empty() ? O_EXCL : 0);
    const int descriptor = open(partial.c_str(), flags, 0644);
    struct stat info {};
    if (descriptor < 0 || fstat(descriptor, &info) != 0 || !S_ISREG(info.st_mode) || info.st_nlink != 1) {
        if (descriptor >= 0) close(descriptor);
        reportFailure(url, -static_cast<long>(CURLE_WRITE_ERROR));
        return Attempt::LocalFailure;
    }
    Transfer transfer;
    transfer.downloader = &progress;
    transfer.file = descriptor;
    transfer.kept = validator.empty() ? 0 : static_cast<curl_off_t>(info.st_size);
    transfer.digest = digest;
    transfer.limit = static_cast<curl_off_t>(std::min<std::uint64_t>(limit, INT64_MAX));
    CURLcode result = perform(transfer, url, validator);
    if (close(descriptor) != 0 && result == CURLE_OK) result = CURLE_WRITE_ERROR;

    // A full answer replaced the kept bytes only once its body began.
    if (transfer.status == 200 && transfer.bodyStarted) validator = validatorOf(transfer);
    if (transfer.wrongRange) {
        validator.clear();
        reportFailure(url, -static_cast<long>(CURLE_RANGE_ERROR));
        return Attempt::CutOff;
    }
    if (transfer.tooLarge) {
        download_platform::reportTooLarge(url, limit);
        return Attempt::TooLarge;
    }
    if (result != CURLE_OK) {
        reportFailure(url, -static_cast<long>(result));
        if (transfer.writeFailed || result == CURLE_WRITE_ERROR) return Attempt::LocalFailure;
        return isHopeless(result) ? Attempt::Missing : Attempt::CutOff;
    }
    if (transfer.status >= 400) {
        reportFailure(url, -transfer.status);
        // 416: the kept bytes do not fit the file any more; 5xx: the store's own trouble.
        if (transfer.status == 416) validator.clear();
        if (transfer.status == 416 || transfer.status >= 500 || transfer.status == 408 || transfer.status == 429)
            return Attempt::CutOff;
        return Attempt::Missing;
    }
    // An empty body never reached writeBody: the file must still be emptied.
    if (!transfer.bodyStarted && transfer.status != 206 && digest) digest->startOver();
    if (!transfer.bodyStarted && transfer.status != 206 && truncate(partial.c_str(), 0) != 0) {
        reportFailure(url, -static_cast<long>(CURLE_WRITE_ERROR));
        return Attempt::LocalFailure;
    }
    return Attempt::Complete;
}

}  // namespace download_platform

int Downloader::OnProgress(std::uint64_t progress, std::uint64_t progressMax, unsigned long, const wchar_t*) {
    percent.store(progressPercent(progress, progressMax, percent.load(std::memory_order_relaxed)),
                  std::memory_order_relaxed);
    if (this == &downloader) downloadTransferRate().record(progress, progressMax);
    return 0;
}

namespace {

// One plain transfer from zero into a fixed temporary name beside the
// destination (so the final rename never crosses file systems, and what a
// killed launcher left behind is replaced by the next attempt).
void download(Downloader& downloader, const std::string& url, const std::string& destination) {
    const std::string temporary = destination + ".partial";
    unlink(temporary.c_str());
    std::string noValidator;
    const Attempt result = download_platform::transferPart(downloader, url, utf8ToWide(temporary), noValidator,
                                                           nullptr, maximumDownloadBytes());
    if (result != Attempt::Complete) {
        unlink(temporary.c_str());
    } else if (std::rename(temporary.c_str(), destination.c_str()) != 0) {
        unlink(temporary.c_str());
        reportFailure(url, -static_cast<long>(CURLE_WRITE_ERROR));
    }
}

}  // namespace

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
