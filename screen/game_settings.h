// The game client's settings that the launcher edits, read from and written
// straight into the client's own INI files in the game folder.
#pragma once
#include <cstdint>
#include <string>

namespace starfell {

// Which INI file, section and keys hold the screen resolution.
struct ResolutionFile {
    std::wstring filePath;       // folder + the layout's file
    std::wstring gameSetupPath;  // folder + "ini\GameSetup.ini", whatever the layout
    std::wstring section;
    std::wstring widthKey;
    std::wstring heightKey;
    bool isConfigIni = true;
};

// The values the settings panel shows and changes.
struct GameSettings {
    std::int32_t screenWidth = 0;
    std::int32_t screenHeight = 0;
    std::int32_t fpsLimit = 0;
    bool hideEffects = false;
};

struct ScreenSize {
    std::int32_t width = 0;
    std::int32_t height = 0;
};

// The two layouts for a game folder (ending with its separator). The
// GameSetup record keeps isConfigIni true until detection has run.
ResolutionFile gameSetupRecord(const std::wstring& folder);
ResolutionFile configIniRecord(const std::wstring& folder);

// Reads the settings of a game folder (ending with its separator) and settles
// which layout's files hold them.
void loadGameSettings(const std::wstring& folder, ResolutionFile& file, GameSettings& settings);

// Scans the record's file for the bytes "ScrWidth"; sets and returns isConfigIni
// (true when the file cannot be opened or holds no such bytes).
bool detectResolutionFile(ResolutionFile& record);

// A key's value as an int: 0 when empty or when it does not start with a
// number (after blanks and a sign); digits stop at the first other character;
// numbers beyond the 32-bit range are clamped to it.
std::int32_t readIniInt(const std::wstring& section, const std::wstring& key, const std::wstring& path);
std::int32_t parseIniInt(const std::wstring& text);

// Writers called by the settings panel on every change.
void saveResolution(const ResolutionFile& file, const GameSettings& settings, ScreenSize primaryScreen);
void saveFpsLimit(const ResolutionFile& file, const GameSettings& settings);
void saveHideEffects(const std::wstring& folder, const ResolutionFile& file, const GameSettings& settings);

// Size of the primary display in pixels; zero when it cannot be learned.
ScreenSize primaryScreenSize();

}  // namespace starfell
