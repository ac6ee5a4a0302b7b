// Unpacking the entries of one opened ZIP archive into a game folder, with
// every file's bytes on the disk before it takes the place of the old one.
//
// The calling thread inflates while a writer thread writes; the finished
// files wait under temporary names and are flushed together in batches, then
// renamed in entry order, so the disk sees a few large flushes rather than
// one per file. Nothing is renamed over a game file before its batch is
// flushed, and finish() returns only once every rename and folder is flushed.
#pragma once
#include <miniz.h>

#include <cstdint>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <vector>

namespace starfell {

class EntryWriter;

class Extraction {
public:
    // `folder` ends with this platform's separator.
    Extraction(mz_zip_archive& zip, std::string folder);
    ~Extraction();
    Extraction(const Extraction&) = delete;
    Extraction& operator=(const Extraction&) = delete;

    // Starts unpacking one entry; false when it was refused or its content
    // could not be produced (already reported). Writing, flushing and
    // renaming may fail later: finish() reports those.
    bool extractEntry(unsigned index);

    // Waits until every entry started so far is written, flushed and renamed,
    // and the folders whose names changed are flushed. False when any of them
    // failed since the last call (each already reported).
    bool finish();

private:
    // The one place an entry's new content comes from.
    bool produceContent(unsigned index, std::uint64_t declaredSize, std::uint32_t declaredCrc);
    void useFirstSpelling(std::vector<std::string>& components);

    mz_zip_archive& zip_;
    std::string folder_;
    std::uint64_t extracted_ = 0;
    std::map<std::string, std::string> spellings_;  // ASCII-lowercased path -> first spelling
    std::set<std::string> pendingPaths_;             // files started since the last finish()
    std::set<std::string> touchedFolders_;
    std::set<std::string> knownFolders_;  // folders on the way to earlier entries
    bool drainFailed_ = false;  // a failure met when a repeated entry waited for the one before
    std::unique_ptr<EntryWriter> writer_;
};

}  // namespace starfell
