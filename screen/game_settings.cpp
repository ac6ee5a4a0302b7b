// Game client settings: which INI layout holds the resolution, the start-up
// read of the four settings, and the writes the settings panel triggers.
#include "screen/game_settings.h"

#include <cwctype>
#include <cstdio>
#include <limits>

#include "base/file_platform.h"
#include "base/file_utils.h"
#include "base/text_utils.h"
#include "screen/profile.h"

namespace starfell {

namespace {

std::wstring inFolder(const std::wstring& folder, std::initializer_list<const wchar_t*> pieces) {
    std::wstring path = folder;
    bool first = true;
    for (const wchar_t* piece : pieces) {
        if (!first) path += fs::kWideSeparator;
        path += piece;
        first = false;
    }
    return path;
}

std::wstring decimal(std::int32_t value) {
    const std::string digits = std::to_string(value);
    return std::wstring(digits.begin(), digits.end());
}

const wchar_t* onOff(bool on) { return on ? L"1" : L"0"; }

}  // namespace

ResolutionFile gameSetupRecord(const std::wstring& folder) {
    ResolutionFile record;
    record.filePath = inFolder(folder, {L"ini", L"GameSetup.ini"});
    record.gameSetupPath = record.filePath;
    record.section = L"ScreenMode";
    record.widthKey = L"ScrWidth";
    record.heightKey = L"ScrHeight";
    record.isConfigIni = true;
    return record;
}

ResolutionFile configIniRecord(const std::wstring& folder) {
    ResolutionFile record;
    record.filePath = inFolder(folder, {L"config.ini"});
    record.gameSetupPath = inFolder(folder, {L"ini", L"GameSetup.ini"});
    record.section = L"Screen";
    record.widthKey = L"Width";
    record.heightKey = L"Height";
    record.isConfigIni = true;
    return record;
}

bool detectResolutionFile(ResolutionFile& record) {
    std::FILE* file = fs::openFile(record.filePath, "rb");
    if (!file) return record.isConfigIni;

    // Scan in blocks; the tail of each block is kept so a match across two blocks is found.
    static const std::string marker = "ScrWidth";
    std::string window;
    char block[1 << 16];
    bool found = false;
    for (size_t read; (read = std::fread(block, 1, sizeof(block), file)) > 0;) {
        window.append(block, read);
        if (window.find(marker) != std::string::npos) found = true;
        if (window.size() >= marker.size()) window.erase(0, window.size() - (marker.size() - 1));
    }
    std::fclose(file);
    if (found) record.isConfigIni = false;
    return record.isConfigIni;
}

std::int32_t parseIniInt(const std::wstring& text) {
    size_t i = 0;
    while (i < text.size() && std::iswspace(static_cast<wint_t>(text[i]))) ++i;
    bool negative = false;
    if (i < text.size() && (text[i] == L'+' || text[i] == L'-')) negative = text[i++] == L'-';
    // Accumulate towards the sign so the most negative value fits, and clamp.
    constexpr std::int64_t kMax = std::numeric_limits<std::int32_t>::max();
    constexpr std::int64_t kMin = std::numeric_limits<std::int32_t>::min();
    std::int64_t value = 0;
    for (; i < text.size() && text[i] >= L'0' && text[i] <= L'9'; ++i) {
        value = value * 10 + (text[i] - L'0');
        if (value > kMax + 1) value = kMax + 1;  // already out of range; keep it small
    }
    if (negative) value = -value;
    if (value > kMax) return static_cast<std::int32_t>(kMax);
    if (value < kMin) return static_cast<std::int32_t>(kMin);
    return static_cast<std::int32_t>(value);
}

std::int32_t readIniInt(const std::wstring& section, const std::wstring& key, const std::wstring& path) {
    return parseIniInt(readProfileString(section, key, path));
}

void loadGameSettings(const std::wstring& folder, ResolutionFile& file, GameSettings& settings) {
    settings.hideEffects = fs::getAttributes(inFolder(folder, {L"c3", L"backup"})) != fs::kInvalidAttributes;
    file = gameSetupRecord(folder);
    if (detectResolutionFile(file)) file = configIniRecord(folder);
    settings.fpsLimit = readIniInt(L"Config", L"FPS", file.filePath);
    settings.screenWidth = readIniInt(file.section, file.widthKey, file.filePath);
    settings.screenHeight = readIniInt(file.section, file.heightKey, file.filePath);
}

void saveResolution(const ResolutionFile& file, const GameSettings& settings, ScreenSize primaryScreen) {
    const std::wstring width = decimal(settings.screenWidth), height = decimal(settings.screenHeight);
    writeProfileString(file.section, file.widthKey, width, file.filePath);
    writeProfileString(file.section, file.heightKey, height, file.filePath);
    if (file.isConfigIni) {
        const bool fullScreen = parseIniInt(width) == primaryScreen.width && parseIniInt(height) == primaryScreen.height;
        writeProfileString(file.section, L"FullScreen", onOff(fullScreen), file.filePath);
    } else {
        writeProfileString(file.section, L"FullScrType", L"1", file.gameSetupPath);
        writeProfileString(file.section, L"ScreenModeRecord", L"4", file.gameSetupPath);
    }
}

void saveFpsLimit(const ResolutionFile& file, const GameSettings& settings) {
    writeProfileString(L"config", L"FPS", settings.fpsLimit > 60 ? decimal(settings.fpsLimit) : L"60", file.filePath);
}

void saveHideEffects(const std::wstring& folder, const ResolutionFile& file, const GameSettings& settings) {
    const wchar_t* value = onOff(settings.hideEffects);
    if (file.isConfigIni) {
        writeProfileString(L"Character", L"HideEffect", value, file.filePath);
        return;
    }
    // Each write stands alone: a missing environment folder loses only its own.
    writeProfileString(L"Screen", L"HideEffect", value, inFolder(folder, {L"Settings.ini"}));
    writeProfileString(L"Screen", L"HideEffect", value, inFolder(folder, {L"Env_DX8", L"Settings.ini"}));
    writeProfileString(L"Screen", L"HideEffect", value, inFolder(folder, {L"Env_DX9", L"Settings.ini"}));
}

}  // namespace starfell
