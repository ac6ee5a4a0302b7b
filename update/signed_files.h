// The one check every downloaded patch, launcher build and repair file passes
// before it is used: its minisign signature, fetched from beside it on the store.
#pragma once
#include <string>

#include "update/download.h"
#include "update/minisign_format.h"

namespace starfell {

// Downloads `url` + ".minisig" beside `path` (the file just downloaded from
// `url`), checks it with `key` and the URL's file name, and removes the
// signature again. A refused file is deleted and one diagnostic line names the
// URL and the reason. True when the file may be used: a good signature, no
// key (nullptr, a build without one), or no downloaded file at all (nothing to
// check; the caller's own use then fails and says so). `digest` is the file's
// digest taken as it was written, when the download had it.
bool acceptSignedFileWithKey(const minisign::PublicKey* key, const std::wstring& path, const std::string& url,
                             const FileDigest* digest = nullptr);

// The check for fetchFile with the built-in update key, and none at all when
// the build has no key (so nothing is hashed for it).
AcceptDownload signedDownloadCheck();

}  // namespace starfell
