// The seam between the shared fetch logic (update/download.cpp) and each
// platform's transfer (update/download_posix.cpp, update/download_win32.cpp):
// the platform opens the partial file, sends the request and streams the
// answer's body; deciding where the body goes and what the answer means is
// shared.
#pragma once
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "update/download.h"

namespace starfell::download_platform {

enum class Attempt {
    Complete,      // the whole file is in the partial file
    CutOff,        // worth another try: timed out, cut off, refused for now (5xx)
    Missing,       // this store does not have it (4xx): try the next store
    TooLarge,      // the answer passed the size limit: try the next store
    LocalFailure,  // our side failed (a write error): no store can help
};

// The head of the store's answer: the last response's, after redirects.
struct AnswerHead {
    long status = 0;  // 0 until an answer arrived
    std::string entityTag, lastModified;
    std::string rangeStart;  // the first byte a Content-Range answer says it carries
};

// How the request itself ended, whatever the answer said.
enum class Transport {
    Done,
    Failed,        // cut off, timed out, refused: another try may mend it
    BadAddress,    // the address itself is unusable
    LocalFailure,  // our side failed
};

// The partial file a transfer writes, opened by the platform: a new file of
// its own, or kept bytes continued only in a plain file of one name, never
// through a link.
class PartialFile {
public:
    virtual ~PartialFile() = default;
    virtual std::uint64_t size() = 0;
    virtual bool seek(std::uint64_t offset) = 0;
    virtual bool truncateHere() = 0;
    virtual bool write(const char* data, std::size_t size) = 0;
    virtual bool close() = 0;
};

// Where the body of an answer goes: after the kept bytes for a partial answer
// that continues them, over the whole file for a full one. An error page's
// body is dropped, so it never replaces kept bytes. The file never grows past
// `limit`, and `digest` learns which bytes are final.
class BodyWriter {
public:
    BodyWriter(PartialFile& file, std::uint64_t kept, GrowingFileDigest* digest, std::uint64_t limit)
        : file_(file), kept_(kept), digest_(digest), limit_(limit) {}

    // One piece of the body, in order; false stops the transfer.
    bool write(const AnswerHead& head, const char* data, std::size_t size);
    // After a complete answer whose body was empty: the file is emptied too.
    bool finishEmpty(const AnswerHead& head);

    std::uint64_t kept() const { return kept_; }
    std::uint64_t limit() const { return limit_; }
    std::uint64_t start() const { return start_; }  // where this answer's body began in the file
    std::uint64_t end() const { return end_; }
    bool started() const { return started_; }
    bool wrongRange() const { return wrongRange_; }
    bool writeFailed() const { return writeFailed_; }
    bool tooLarge() const { return tooLarge_; }

private:
    bool startBody(const AnswerHead& head);
    bool restart();

    PartialFile& file_;
    const std::uint64_t kept_;
    GrowingFileDigest* const digest_;
    const std::uint64_t limit_;
    std::uint64_t start_ = 0, end_ = 0;
    bool started_ = false, wrongRange_ = false, writeFailed_ = false, tooLarge_ = false;
};

// What one transfer came to, from the answer, what the body writer saw and how
// the request ended (`code`: the platform's number for the diagnostic line).
// Updates `validator` to what the store said of the file (cleared when the
// kept bytes no longer fit it) and writes the "Download failed for: " line.
Attempt classify(const std::string& url, const AnswerHead& head, const BodyWriter& body, Transport transport,
                 long code, std::string& validator);

// One transfer of `url` into `partial`. When `validator` (the entity tag or
// modification date the partial bytes came with) is not empty, only the rest
// is asked for, on the condition that the file is still the same; a store
// that sends the whole file instead restarts the partial file from zero.
Attempt transferPart(Downloader& progress, const std::string& url, const std::wstring& partial,
                     std::string& validator, GrowingFileDigest* digest, std::uint64_t limit);

// ---- each platform provides these

// Opens the partial file (see PartialFile); null when it cannot.
std::unique_ptr<PartialFile> openPartialFile(const std::wstring& path, bool continuing);

// Sends the request for `url` (for the bytes after `body.kept()`, if-range
// `validator`, when any are kept), fills `head` and streams the body into
// `body` as it arrives, reporting progress to `progress`. A silent or
// trickling store is given up on within the platform's bounds.
Transport sendRequest(Downloader& progress, const std::string& url, const std::string& validator,
                      AnswerHead& head, BodyWriter& body, long& code);

// The platform's codes in the diagnostic for a failed local write and for a
// partial answer that does not continue the kept bytes.
extern const long kWriteFailureCode;
extern const long kWrongRangeCode;

}  // namespace starfell::download_platform
