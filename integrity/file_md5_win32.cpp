// Windows: MD5 through CryptoAPI, fed 1024-byte pieces; every exit releases
// what was acquired before it, in reverse order.
#include <windows.h>
#include <shlwapi.h>
#include <wincrypt.h>

#include <cstdio>

#include "integrity/file_md5.h"

namespace starfell {

std::string fileMd5(const std::wstring& path) {
    if (!PathFileExistsW(path.c_str())) return "None";

    FILE* file = _wfopen(path.c_str(), L"rb");
    if (!file) return "None";

    HCRYPTPROV provider = 0;
    if (!CryptAcquireContextA(&provider, nullptr, nullptr, PROV_RSA_FULL, CRYPT_VERIFYCONTEXT)) {
        fclose(file);
        return "None";
    }
    HCRYPTHASH hash = 0;
    if (!CryptCreateHash(provider, CALG_MD5, 0, 0, &hash)) {
        CryptReleaseContext(provider, 0);
        fclose(file);
        return "None";
    }

    // Fewer system calls for large files; the hash still gets 1 KiB pieces.
    setvbuf(file, nullptr, _IOFBF, 1 << 16);
    unsigned char buffer[1024];
    size_t count;
    bool hashed = true;
    while (hashed && (count = fread(buffer, 1, sizeof(buffer), file)) > 0)
        hashed = CryptHashData(hash, buffer, static_cast<DWORD>(count), 0);
    // A read that failed is not the end of the file: a digest of part of it
    // would name content the file does not have.
    if (!hashed || ferror(file)) {
        CryptDestroyHash(hash);
        CryptReleaseContext(provider, 0);
        fclose(file);
        return "None";
    }

    unsigned char digest[16];
    DWORD length = sizeof(digest);
    if (!CryptGetHashParam(hash, HP_HASHVAL, digest, &length, 0)) {
        CryptDestroyHash(hash);
        CryptReleaseContext(provider, 0);
        fclose(file);
        return "None";
    }

    CryptDestroyHash(hash);
    CryptReleaseContext(provider, 0);
    fclose(file);
    return digestToHex(digest, length);
}

}  // namespace starfell
