// POSIX: the transfer through libcurl, progress through the shared
// `downloader`, the partial file through a plain descriptor.
#include <curl/curl.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <mutex>

#include "base/text_utils.h"
#include "update/download_platform.h"

namespace starfell {

namespace download_platform {

const long kWriteFailureCode = -static_cast<long>(CURLE_WRITE_ERROR);
const long kWrongRangeCode = -static_cast<long>(CURLE_RANGE_ERROR);

namespace {

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

class DescriptorFile : public PartialFile {
public:
    explicit DescriptorFile(int descriptor) : descriptor_(descriptor) {}
    ~DescriptorFile() override { close(); }

    std::uint64_t size() override {
        struct stat info {};
        return fstat(descriptor_, &info) == 0 ? static_cast<std::uint64_t>(info.st_size) : 0;
    }
    bool seek(std::uint64_t offset) override {
        return lseek(descriptor_, static_cast<off_t>(offset), SEEK_SET) == static_cast<off_t>(offset);
    }
    bool truncateHere() override {
        const off_t here = lseek(descriptor_, 0, SEEK_CUR);
        return here >= 0 && ftruncate(descriptor_, here) == 0;
    }
    // Each received piece straight to the file: the pieces are large already,
    // and stdio would split them into small writes.
    bool write(const char* data, std::size_t size) override {
        for (std::size_t done = 0; done < size;) {
            const ssize_t written = ::write(descriptor_, data + done, size - done);
            if (written < 0 && errno == EINTR) continue;
            if (written <= 0) return false;
            done += static_cast<std::size_t>(written);
        }
        return true;
    }
    bool close() override {
        if (descriptor_ < 0) return true;
        const bool closed = ::close(descriptor_) == 0;
        descriptor_ = -1;
        return closed;
    }

private:
    int descriptor_;
};

struct Request {
    Downloader* progress;
    AnswerHead* head;
    BodyWriter* body;
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
    AnswerHead& head = *static_cast<Request*>(opaque)->head;
    const std::string line(data, size * count);
    if (line.rfind("HTTP/", 0) == 0) {
        head = AnswerHead{};
        const size_t space = line.find(' ');
        head.status = space == std::string::npos ? 0 : std::strtol(line.c_str() + space + 1, nullptr, 10);
    }
    if (std::string value = headerValue(line, "ETag"); !value.empty()) head.entityTag = value;
    if (std::string value = headerValue(line, "Last-Modified"); !value.empty()) head.lastModified = value;
    if (std::string value = headerValue(line, "Content-Range"); value.rfind("bytes ", 0) == 0)
        head.rangeStart = value.substr(6, value.find('-') - 6);
    return size * count;
}

size_t writeBody(char* data, size_t size, size_t count, void* opaque) {
    const Request& request = *static_cast<Request*>(opaque);
    // A short count makes curl end the transfer.
    return request.body->write(*request.head, data, size * count) ? size * count : 0;
}

int reportProgress(void* opaque, curl_off_t total, curl_off_t now, curl_off_t, curl_off_t) {
    const Request& request = *static_cast<Request*>(opaque);
    const std::uint64_t before = request.body->start();
    request.progress->OnProgress(before + static_cast<std::uint64_t>(now),
                                 total ? before + static_cast<std::uint64_t>(total) : 0);
    return 0;
}

}  // namespace

std::unique_ptr<PartialFile> openPartialFile(const std::wstring& path, bool continuing) {
    const std::string partial = wideToUtf8(path);
    if (!continuing && unlink(partial.c_str()) != 0 && errno != ENOENT) return nullptr;
    const int flags = O_WRONLY | O_CREAT | O_NOFOLLOW | O_CLOEXEC | (continuing ? 0 : O_EXCL);
    const int descriptor = open(partial.c_str(), flags, 0644);
    if (descriptor < 0) return nullptr;
    auto file = std::make_unique<DescriptorFile>(descriptor);
    struct stat info {};
    if (fstat(descriptor, &info) != 0 || !S_ISREG(info.st_mode) || info.st_nlink != 1) return nullptr;
    return file;
}

Transport sendRequest(Downloader& progress, const std::string& url, const std::string& validator,
                      AnswerHead& head, BodyWriter& body, long& code) {
    static std::once_flag initialised;
    std::call_once(initialised, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });

    CURL* curl = curl_easy_init();
    if (!curl) {
        code = -static_cast<long>(CURLE_FAILED_INIT);
        return Transport::Failed;
    }
    Request request{&progress, &head, &body};
    curl_slist* headers = nullptr;
    const std::string range = std::to_string(body.kept()) + "-";
    if (body.kept() > 0) {
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
    curl_easy_setopt(curl, CURLOPT_HEADERDATA, &request);
    curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, writeBody);
    curl_easy_setopt(curl, CURLOPT_WRITEDATA, &request);
    curl_easy_setopt(curl, CURLOPT_NOPROGRESS, 0L);
    curl_easy_setopt(curl, CURLOPT_XFERINFOFUNCTION, reportProgress);
    curl_easy_setopt(curl, CURLOPT_XFERINFODATA, &request);
    const CURLcode result = curl_easy_perform(curl);
    curl_easy_cleanup(curl);
    curl_slist_free_all(headers);

    code = -static_cast<long>(result);
    if (result == CURLE_OK) return Transport::Done;
    if (result == CURLE_WRITE_ERROR) return Transport::LocalFailure;
    // Errors that another try cannot mend: the address itself is unusable.
    if (result == CURLE_UNSUPPORTED_PROTOCOL || result == CURLE_URL_MALFORMAT || result == CURLE_TOO_MANY_REDIRECTS)
        return Transport::BadAddress;
    return Transport::Failed;
}

}  // namespace download_platform

}  // namespace starfell
