// Game client settings: layout detection, the int read rule, the start-up read
// and every key the settings panel writes, on real files in a scratch folder.
#include <gtest/gtest.h>

#include <climits>

#include "base/text_utils.h"
#include "screen/game_settings.h"
#include "screen/profile.h"
#include "test_support.h"

namespace starfell {
namespace {

namespace fsys = std::filesystem;

std::string utf16le(const std::string& ascii) {
    std::string bytes = "\xFF\xFE";
    for (char c : ascii) bytes += std::string{c, '\0'};
    return bytes;
}

std::wstring read(const fsys::path& file, const wchar_t* section, const wchar_t* key) {
    return readProfileString(section, key, test::wideOf(file));
}

class GameSettingsFolder : public ::testing::Test {
protected:
    GameSettingsFolder() { fsys::create_directories(folder.path() / "ini"); }
    fsys::path gameSetup() const { return folder.path() / "ini" / "GameSetup.ini"; }
    fsys::path configIni() const { return folder.path() / "config.ini"; }
    test::ScratchFolder folder;
};

TEST_F(GameSettingsFolder, DetectionScansTheBytesOfGameSetup) {
    const struct {
        const char* what;
        std::string content;  // empty: no file
        bool isConfigIni;
    } cases[] = {
        {"no file", "", true},
        {"no ScrWidth", "[ScreenMode]\r\nScrHeight=768\r\n", true},
        {"only in a comment", "; ScrWidth=1024\r\n", false},
        {"in a value", "[X]\r\nNote=ScrWidth\r\n", false},
        {"other case", "[ScreenMode]\r\nscrwidth=1024\r\n", true},
        {"UTF-16", utf16le("[ScreenMode]\r\nScrWidth=1024\r\n"), true},
        // Straddles the scanner's 64 KiB block edge.
        {"across blocks", std::string((1 << 16) - 3, ';') + "ScrWidth", false},
    };
    for (const auto& c : cases) {
        std::error_code ignored;
        fsys::remove(gameSetup(), ignored);
        if (!c.content.empty()) test::writeFile(gameSetup(), c.content);
        ResolutionFile record = gameSetupRecord(folder.wide());
        EXPECT_EQ(detectResolutionFile(record), c.isConfigIni) << c.what;
        EXPECT_EQ(record.isConfigIni, c.isConfigIni) << c.what;
    }
}

TEST(ReadIniInt, ReadRule) {
    const struct {
        const wchar_t* text;
        std::int32_t value;
    } cases[] = {
        {L"1024x", 1024},       {L" \t-42", -42},       {L"+7", 7},
        {L"", 0},               {L"x1", 0},             {L"-", 0},
        {L"- 5", 0},            {L"2147483647", INT_MAX}, {L"2147483648", INT_MAX},
        {L"-2147483648", INT_MIN}, {L"-99999999999999999999", INT_MIN}, {L"00000000000000000000042", 42},
    };
    for (const auto& c : cases) EXPECT_EQ(parseIniInt(c.text), c.value) << wideToUtf8(c.text);
}

TEST_F(GameSettingsFolder, ReadIniIntFromFiles) {
    test::writeFile(configIni(), "[Screen]\r\nWidth = \" 1280\" \r\nHeight=abc\r\n");
    const std::wstring path = test::wideOf(configIni());
    EXPECT_EQ(readIniInt(L"screen", L"WIDTH", path), 1280);
    EXPECT_EQ(readIniInt(L"Screen", L"Height", path), 0);
    EXPECT_EQ(readIniInt(L"Screen", L"Missing", path), 0);
    EXPECT_EQ(readIniInt(L"Screen", L"Width", path + L".absent"), 0);
}

TEST_F(GameSettingsFolder, LoadsTheGameSetupLayout) {
    test::writeFile(gameSetup(), "[ScreenMode]\r\nScrWidth=1024\r\nScrHeight=768\r\n[Config]\r\nFPS=144\r\n");
    test::writeFile(configIni(), "[Screen]\r\nWidth=1\r\nHeight=2\r\n");
    fsys::create_directories(folder.path() / "c3" / "backup");
    ResolutionFile file;
    GameSettings settings;
    loadGameSettings(folder.wide(), file, settings);
    EXPECT_FALSE(file.isConfigIni);
    EXPECT_EQ(file.filePath, test::wideOf(gameSetup()));
    EXPECT_EQ(settings.screenWidth, 1024);
    EXPECT_EQ(settings.screenHeight, 768);
    EXPECT_EQ(settings.fpsLimit, 144);
    EXPECT_TRUE(settings.hideEffects);
}

TEST_F(GameSettingsFolder, LoadsTheConfigIniLayout) {
    test::writeFile(gameSetup(), "[ScreenMode]\r\nFullScrType=1\r\n");
    test::writeFile(configIni(), "[Screen]\r\nWidth=1600\r\nHeight=900\r\n[config]\r\nFPS=30\r\n");
    test::writeFile(folder.path() / "c3", "a file named c3, not a folder");
    ResolutionFile file;
    GameSettings settings;
    loadGameSettings(folder.wide(), file, settings);
    EXPECT_TRUE(file.isConfigIni);
    EXPECT_EQ(file.filePath, test::wideOf(configIni()));
    EXPECT_EQ(file.gameSetupPath, test::wideOf(gameSetup()));
    EXPECT_EQ(settings.screenWidth, 1600);
    EXPECT_EQ(settings.screenHeight, 900);
    EXPECT_EQ(settings.fpsLimit, 30);  // read as "Config", written as "config"
    EXPECT_FALSE(settings.hideEffects);

    // Without config.ini everything reads 0, and the first save creates it.
    fsys::remove(configIni());
    loadGameSettings(folder.wide(), file, settings);
    EXPECT_EQ(settings.screenWidth, 0);
    EXPECT_EQ(settings.screenHeight, 0);
    EXPECT_EQ(settings.fpsLimit, 0);
    settings.screenWidth = 800;
    settings.screenHeight = 600;
    saveResolution(file, settings, {1920, 1080});
    EXPECT_EQ(read(configIni(), L"Screen", L"Width"), L"800");
}

TEST_F(GameSettingsFolder, ResolutionKeysOfBothLayouts) {
    const ResolutionFile config = configIniRecord(folder.wide());
    GameSettings settings;
    settings.screenWidth = 1920;
    settings.screenHeight = 1080;
    saveResolution(config, settings, {1920, 1080});
    EXPECT_EQ(read(configIni(), L"Screen", L"Width"), L"1920");
    EXPECT_EQ(read(configIni(), L"Screen", L"Height"), L"1080");
    EXPECT_EQ(read(configIni(), L"Screen", L"FullScreen"), L"1");
    settings.screenHeight = 1050;
    saveResolution(config, settings, {1920, 1080});
    EXPECT_EQ(read(configIni(), L"Screen", L"FullScreen"), L"0");
    settings.screenWidth = 1080;  // height matching alone is not full screen
    settings.screenHeight = 1080;
    saveResolution(config, settings, {1920, 1080});
    EXPECT_EQ(read(configIni(), L"Screen", L"FullScreen"), L"0");
    EXPECT_FALSE(fsys::exists(gameSetup()));

    ResolutionFile gameSetupFile = gameSetupRecord(folder.wide());
    gameSetupFile.isConfigIni = false;
    settings.screenWidth = 640;
    settings.screenHeight = 480;
    saveResolution(gameSetupFile, settings, {1920, 1080});
    EXPECT_EQ(read(gameSetup(), L"ScreenMode", L"ScrWidth"), L"640");
    EXPECT_EQ(read(gameSetup(), L"ScreenMode", L"ScrHeight"), L"480");
    EXPECT_EQ(read(gameSetup(), L"ScreenMode", L"FullScrType"), L"1");
    EXPECT_EQ(read(gameSetup(), L"ScreenMode", L"ScreenModeRecord"), L"4");
    EXPECT_EQ(read(gameSetup(), L"ScreenMode", L"FullScreen"), L"");
}

TEST_F(GameSettingsFolder, FpsLimitIsAtLeastSixty) {
    const ResolutionFile config = configIniRecord(folder.wide());
    const struct {
        std::int32_t limit;
        const wchar_t* written;
    } cases[] = {{-5, L"60"}, {0, L"60"}, {60, L"60"}, {61, L"61"}, {1000, L"1000"}};
    for (const auto& c : cases) {
        GameSettings settings;
        settings.fpsLimit = c.limit;
        saveFpsLimit(config, settings);
        EXPECT_EQ(read(configIni(), L"Config", L"FPS"), c.written) << c.limit;
    }
}

TEST_F(GameSettingsFolder, HideEffectsGoesToEveryFileOfTheLayout) {
    GameSettings settings;
    settings.hideEffects = true;
    saveHideEffects(folder.wide(), configIniRecord(folder.wide()), settings);
    EXPECT_EQ(read(configIni(), L"Character", L"HideEffect"), L"1");
    EXPECT_FALSE(fsys::exists(folder.path() / "Settings.ini"));

    // GameSetup layout: three Settings.ini files; a missing folder loses only its own write.
    fsys::create_directories(folder.path() / "Env_DX8");
    ResolutionFile gameSetupFile = gameSetupRecord(folder.wide());
    gameSetupFile.isConfigIni = false;
    saveHideEffects(folder.wide(), gameSetupFile, settings);
    EXPECT_EQ(read(folder.path() / "Settings.ini", L"Screen", L"HideEffect"), L"1");
    EXPECT_EQ(read(folder.path() / "Env_DX8" / "Settings.ini", L"Screen", L"HideEffect"), L"1");
    EXPECT_FALSE(fsys::exists(folder.path() / "Env_DX9"));

    fsys::create_directories(folder.path() / "Env_DX9");
    settings.hideEffects = false;
    saveHideEffects(folder.wide(), gameSetupFile, settings);
    for (const char* sub : {"", "Env_DX8", "Env_DX9"})
        EXPECT_EQ(read(folder.path() / sub / "Settings.ini", L"Screen", L"HideEffect"), L"0") << sub;
    // Nothing is created or removed for the switch itself.
    EXPECT_FALSE(fsys::exists(folder.path() / "c3"));
}

}  // namespace
}  // namespace starfell
