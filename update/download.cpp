// Shared part of the downloads: whole percent from a progress report, and the
// mirror, retry and resume logic of `fetchFile` around the platform's transfer.
#include "update/download.h"

#include <cstdio>
#include <memory>
#include <optional>

#include "base/diagnostics.h"
#include "base/file_platform.h"
#include "base/file_utils.h"
#include "base/text_utils.h"
#include "build_config.h"
#include "update/archive_files.h"
#include "update/download_platform.h"
#include "update/transfer_rate.h"

namespace starfell {

std::int32_t progressPercent(std::uint64_t received, std::uint64_t total, std::int32_t previous) {
    if (received == 0 || total == 0) return previous;
    // Single precision, then times 100 and truncated, the way the figure has
    // always been computed (512 of 1000 gives 51).
    const double figure = static_cast<float>(received) / static_cast<float>(total) * 100.0;
    if (figure >= 100.0) return 100;
    return static_cast<std::int32_t>(figure);
}

Downloader downloader;

Downloader& unshownDownloader() {
    static Downloader* instance = new Downloader;  // never destroyed: workers may outlive exit()
    return *instance;
}

std::int32_t downloadPercent() { return downloader.percent.load(std::memory_order_relaxed); }

void Downloader::OnProgress(std::uint64_t received, std::uint64_t total) {
    percent.store(progressPercent(received, total, percent.load(std::memory_order_relaxed)),
                  std::memory_order_relaxed);
    if (this == &downloader) downloadTransferRate().record(received, total);
}

std::uint64_t maximumDownloadBytes() { return std::uint64_t{STARFELL_MAXIMUM_DOWNLOAD_MIB} * 1024 * 1024; }

namespace download_platform {

namespace {

void reportFailure(const std::string& url, long code) {
    writeDiagnostic("Download failed for: " + url + " HRESULT: " + std::to_string(code));
}

// A strong entity tag names these exact bytes; otherwise the modification
// date stands in. Weak tags may not be used for ranges.
std::string validatorOf(const AnswerHead& head) {
    if (!head.entityTag.empty() && head.entityTag.rfind("W/", 0) != 0) return head.entityTag;
    return head.lastModified;
}

}  // namespace

bool BodyWriter::restart() {
    start_ = end_ = 0;
    if (digest_) digest_->startOver();
    // Only kept bytes need emptying (a new partial file is empty): on ext4
    // truncating even an empty file makes its close wait for the whole
    // download to be written out.
    return file_.seek(0) && (kept_ == 0 || file_.truncateHere());
}

bool BodyWriter::startBody(const AnswerHead& head) {
    started_ = true;
    if (head.status != 206) return restart();
    if (head.rangeStart != std::to_string(kept_)) {
        wrongRange_ = true;
        return false;
    }
    start_ = end_ = kept_;
    if (digest_) digest_->finalUpTo(kept_);
    return file_.seek(kept_);
}

bool BodyWriter::write(const AnswerHead& head, const char* data, std::size_t size) {
    if (head.status >= 300) return true;
    if (!started_ && !startBody(head)) {
        writeFailed_ = !wrongRange_;
        return false;
    }
    if (size > limit_ - end_) {
        tooLarge_ = true;
        return false;
    }
    if (!file_.write(data, size)) {
        writeFailed_ = true;
        return false;
    }
    end_ += size;
    if (digest_) digest_->finalUpTo(end_);
    return true;
}

bool BodyWriter::finishEmpty(const AnswerHead& head) {
    if (started_ || head.status == 206 || head.status >= 300) return true;
    if (!restart()) writeFailed_ = true;
    return !writeFailed_;
}

Attempt classify(const std::string& url, const AnswerHead& head, const BodyWriter& body, Transport transport,
                 long code, std::string& validator) {
    // A full answer replaced the kept bytes only once its body began.
    if (head.status == 200 && body.started()) validator = validatorOf(head);
    if (body.wrongRange() || (head.status == 206 && head.rangeStart != std::to_string(body.kept()))) {
        validator.clear();
        reportFailure(url, kWrongRangeCode);
        return Attempt::CutOff;
    }
    if (body.tooLarge()) {
        writeDiagnostic("Download refused, larger than " + std::to_string(body.limit()) + " bytes: " + url);
        return Attempt::TooLarge;
    }
    if (body.writeFailed() || transport == Transport::LocalFailure) {
        reportFailure(url, body.writeFailed() || code == 0 ? kWriteFailureCode : code);
        return Attempt::LocalFailure;
    }
    if (head.status >= 400) {
        reportFailure(url, -head.status);
        // 416: the kept bytes do not fit the file any more; 5xx: the store's own trouble.
        if (head.status == 416) validator.clear();
        if (head.status == 416 || head.status >= 500 || head.status == 408 || head.status == 429)
            return Attempt::CutOff;
        return Attempt::Missing;
    }
    if (transport != Transport::Done) {
        reportFailure(url, code);
        return transport == Transport::BadAddress ? Attempt::Missing : Attempt::CutOff;
    }
    return Attempt::Complete;
}

Attempt transferPart(Downloader& progress, const std::string& url, const std::wstring& partial,
                     std::string& validator, GrowingFileDigest* digest, std::uint64_t limit) {
    // Kept bytes count only with a validator to ask for the rest with.
    if (digest && validator.empty()) digest->startOver();
    const std::unique_ptr<PartialFile> file = openPartialFile(partial, !validator.empty());
    if (!file) {
        reportFailure(url, kWriteFailureCode);
        return Attempt::LocalFailure;
    }
    BodyWriter body(*file, validator.empty() ? 0 : file->size(), digest, limit);
    AnswerHead head;
    long code = 0;
    Transport transport = sendRequest(progress, url, validator, head, body, code);
    if (transport == Transport::Done && !body.finishEmpty(head)) transport = Transport::LocalFailure;
    if (!file->close() && transport == Transport::Done) transport = Transport::LocalFailure;
    return classify(url, head, body, transport, code, validator);
}

}  // namespace download_platform

namespace {

using download_platform::Attempt;

// The pause before the second try is one of these, before the third two:
// long enough for a store that is restarting, short enough not to hold the
// rest of the patch list back.
constexpr unsigned kRetryPauseMilliseconds = 1000;

// The validator of a kept partial file sits beside it, so a later run can
// still ask for the rest on the condition that the file did not change.
std::string readValidator(const std::wstring& path) {
    // Never through a link: the text is sent to the store.
    std::FILE* file = archive_files::openPlainFileForReading(wideToUtf8(path));
    if (!file) return {};
    char text[512];
    const size_t size = std::fread(text, 1, sizeof text, file);
    std::fclose(file);
    return std::string(text, size == sizeof text ? 0 : size);
}

std::uint64_t fileSize(const std::wstring& path) {
    std::FILE* file = fs::openFile(path, "rb");
    if (!file) return 0;
    const std::uint64_t size = archive_files::fileLength(file);
    std::fclose(file);
    return size;
}

// The store path as it goes into a URL: bytes outside printable ASCII, and
// those that would end or change the path ('%', '?', '#', space), as %XX, so
// every platform's transfer sends a non-ASCII name the same way (UTF-8).
std::string urlPathOf(const std::string& storePath) {
    static const char kHex[] = "0123456789ABCDEF";
    std::string path;
    for (unsigned char c : storePath) {
        if (c <= 0x20 || c >= 0x7f || c == '%' || c == '?' || c == '#') {
            path += '%';
            path += kHex[c >> 4];
            path += kHex[c & 0xf];
        } else {
            path += static_cast<char>(c);
        }
    }
    return path;
}

void keepValidator(const std::wstring& path, const std::string& validator) {
    const std::string name = wideToUtf8(path);
    archive_files::removeFile(name);
    archive_files::OutputFile file;
    if (!file.create(name)) return;
    const bool written = file.write(validator.data(), validator.size());
    if (!file.close() || !written) archive_files::removeFile(name);
}

}  // namespace

bool fetchFile(Downloader& downloader, const std::vector<std::string>& baseUrls, const std::string& relativePath,
               const std::wstring& destination, const AcceptDownload& accept, std::uint64_t limit) {
    // Nothing an earlier run left under the final name is trusted.
    if (!deleteFileWithRetries(destination)) {
        writeDiagnostic(L"Failed to prepare file for download: " + destination);
        return false;
    }
    const std::wstring partial = destination + L".partial";
    const std::wstring validatorFile = partial + L".tag";
    // Without a validator the partial bytes cannot be vouched for: start over.
    std::string validator = readValidator(validatorFile);
    auto discardPartial = [&] {
        fs::removeFile(partial);
        fs::removeFile(validatorFile);
        validator.clear();
    };

    // A check afterwards (the signature's) needs the file's digest: it is
    // taken on the way in, so the check need not read the file again.
    std::unique_ptr<GrowingFileDigest> digest;
    if (accept) digest = std::make_unique<GrowingFileDigest>(partial);

    for (const std::string& base : baseUrls) {
        const std::string url = base + urlPathOf(relativePath);
        for (int attempt = 1; attempt <= kAttemptsPerBase; ++attempt) {
            if (attempt > 1) fs::sleepMilliseconds(kRetryPauseMilliseconds * static_cast<unsigned>(attempt - 1));
            const Attempt result =
                download_platform::transferPart(downloader, url, partial, validator, digest.get(), limit);
            if (result == Attempt::CutOff) {
                if (validator.empty()) discardPartial();
                else keepValidator(validatorFile, validator);
                continue;
            }
            if (result == Attempt::LocalFailure) {
                discardPartial();
                return false;
            }
            if (result == Attempt::Missing) break;
            if (result == Attempt::TooLarge) {
                discardPartial();
                break;
            }

            fs::removeFile(validatorFile);
            validator.clear();
            // The verdict comes while the file still has its temporary name:
            // only an accepted file ever lies under the name callers use.
            const std::optional<FileDigest> arrived = digest ? digest->digestOf(fileSize(partial)) : std::nullopt;
            if (accept && !accept(partial, base, relativePath, arrived ? &*arrived : nullptr)) {
                writeDiagnostic("Download refused from: " + url);
                discardPartial();
                break;
            }
            if (fs::replaceFile(partial, destination) != 0) {
                writeDiagnostic(L"Failed to put the download in place: " + destination);
                discardPartial();
                return false;
            }
            return true;
        }
        writeDiagnostic("Giving up on download base: " + base + " for: " + relativePath);
    }
    // Bytes without a validator (a store's error answer, say) can never be resumed.
    if (validator.empty()) discardPartial();
    return false;
}

}  // namespace starfell
