// The one check every downloaded patch, launcher build and repair file passes
// before it takes its name: its minisign signature, fetched from beside it on
// the same store, and whatever else the caller asks of it.
#pragma once
#include <functional>
#include <string>

#include "update/download.h"
#include "update/minisign_format.h"

namespace starfell {

// A caller's own condition on a downloaded file whose signature held:
// `trustedComment` is the signed comment (empty when the build has no key).
using ExtraCheck = std::function<bool(const std::wstring& path, const std::string& trustedComment)>;

// The check for fetchFile with `key`: the file must be there, and
// `storePath` + ".minisig" on the same store must be a good signature of it by
// `key` that names `storePath`; then `extraCheck`, when given, must agree. A
// refused file gets one diagnostic line with the URL and the reason. Without a
// key (nullptr, a build without one) only `extraCheck` is asked, and without
// either there is no check at all (so nothing is hashed for it).
AcceptDownload signedDownloadCheckWithKey(const minisign::PublicKey* key, ExtraCheck extraCheck = {});

// The same with the built-in update key.
AcceptDownload signedDownloadCheck(ExtraCheck extraCheck = {});

}  // namespace starfell
