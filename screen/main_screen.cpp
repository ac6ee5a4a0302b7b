// The main screen, rebuilt every frame from a copy of the launcher state:
// background, title bar, side panel (news or settings), status block,
// progress bar and, once ready, the client counter and PLAY.
#include "screen/main_screen.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>

#include "base/process_end.h"
#include "core/launcher_config.h"
#include "imgui.h"
#include "screen/animated_button.h"
#include "screen/draw_helpers.h"
#include "screen/game_launch.h"
#include "screen/settings_panel.h"
#include "ui/images.h"
#include "ui/theme.h"
#include "ui/window.h"
#include "ui/window_layout.h"
#include "update/download.h"
#include "update/transfer_rate.h"

namespace starfell {
namespace {

// Icon glyphs of the merged icon font, as UTF-8.
#define ICON_COG "\xef\x80\x93"       // U+F013
#define ICON_MINIMISE "\xef\x8b\x91"  // U+F2D1
#define ICON_CLOSE "\xef\x80\x8d"     // U+F00D

constexpr float StatusBlockTop = 530.0f - 95.0f;
constexpr float StatusCentreX = 470.0f;
constexpr int NewsWrapWidth = 38;
const ImVec4 StatusColour(0.2f, 1.0f, 0.2f, 1.0f);
const ImVec4 NewsTextColour(0.9f, 0.9f, 0.9f, 0.85f);
const ImVec4 PanelCogOn(0.7f, 0.22f, 0.02f, 0.9f);
const ImVec4 CogHovered(0.7f, 0.22f, 0.02f, 1.0f);
const ImVec4 CogActive(1.0f, 0.4f, 0.0f, 1.0f);

// An animated button with its three colours pushed just around it.
bool colouredButton(const char* label, ImVec2 size, ImVec4 normal, ImVec4 hovered, ImVec4 active) {
    ImGui::PushStyleColor(ImGuiCol_Button, normal);
    ImGui::PushStyleColor(ImGuiCol_ButtonHovered, hovered);
    ImGui::PushStyleColor(ImGuiCol_ButtonActive, active);
    const bool pressed = AnimatedButton(label, size);
    ImGui::PopStyleColor(3);
    return pressed;
}

void centredStatusText(const std::string& text, float y) {
    const float width = std::ceil(ImGui::CalcTextSize(text.c_str(), text.c_str() + text.size()).x);
    ImGui::SetCursorPos(ImVec2(centredTextX(width), y));
    ImGui::TextUnformatted(text.c_str(), text.c_str() + text.size());
}

void drawTitleBar(const LauncherSnapshot& snapshot, ScreenState& screen) {
    // Title: brand and installed version
    ImGui::SetCursorPos(ImVec2(10, 10));
    ImGui::PushStyleColor(ImGuiCol_Text, accentColour);
    ImGui::Text("%s  v%s", launcherConfig().BrandName.c_str(), snapshot.installedVersion.c_str());
    ImGui::PopStyleColor();

    // Hint with a small arrow pointing at the cog
    ImGui::SetCursorPos(ImVec2(755, 11));
    ImGui::PushStyleColor(ImGuiCol_Text, ImVec4(0.8f, 0.8f, 0.8f, 0.7f));
    ImGui::TextUnformatted("More options");
    ImGui::PopStyleColor();
    ImGui::SameLine(0.0f, 6.0f);
    const ImVec2 at = ImGui::GetCursorScreenPos();
    ImGui::GetWindowDrawList()->AddTriangleFilled(ImVec2(at.x, at.y + 2), ImVec2(at.x, at.y + 12),
                                                  ImVec2(at.x + 10, at.y + 7), IM_COL32(255, 102, 0, 230));
    ImGui::Dummy(ImVec2(14, 0));

    // Side-panel cog, minimise, close
    ImGui::SetCursorPos(ImVec2(860, 8));
    const ImVec4 cogNormal = screen.sidePanelOpen ? PanelCogOn : ImVec4(0.25f, 0.25f, 0.25f, 0.7f);
    if (colouredButton(ICON_COG "##titlebar", ImVec2(22, 18), cogNormal, CogHovered, CogActive)) {
        screen.sidePanelOpen = !screen.sidePanelOpen;
        screen.settingsView = false;
    }
    ImGui::SameLine(0.0f, 4.0f);
    if (colouredButton(ICON_MINIMISE, ImVec2(22, 18), ImVec4(0.25f, 0.25f, 0.25f, 0.7f),
                       ImVec4(0.4f, 0.4f, 0.4f, 0.9f), ImVec4(0.5f, 0.5f, 0.5f, 1.0f)))
        minimiseLauncherWindow();
    ImGui::SameLine(0.0f, 4.0f);
    if (colouredButton(ICON_CLOSE, ImVec2(22, 18), ImVec4(0.6f, 0.1f, 0.1f, 0.8f), ImVec4(0.9f, 0.1f, 0.1f, 1.0f),
                       ImVec4(1.0f, 0.0f, 0.0f, 1.0f)))
        endProcess(1);

    drawLine(0, 30, 950, 30, ImVec4(1.0f, 0.4f, 0.0f, 0.4f), 1.5f);
}

void drawNewsList(const std::vector<std::string>& newsItems) {
    for (const std::string& item : newsItems) {
        const std::string text = hardWrap(item, NewsWrapWidth);
        ImGui::SetCursorPosX(5);
        ImGui::PushStyleColor(ImGuiCol_ChildBg, ImVec4(0.0f, 0.0f, 0.0f, 0.25f));
        const ImVec2 measured = ImGui::CalcTextSize(text.c_str(), text.c_str() + text.size());
        // The item's own text names the box, so equal lines share one box id.
        if (ImGui::BeginChild(item.c_str(), ImVec2(270, measured.y + 14), true, ImGuiWindowFlags_NoScrollbar)) {
            ImGui::PushStyleColor(ImGuiCol_Text, ImGui::IsWindowHovered() ? accentColour : NewsTextColour);
            ImGui::TextUnformatted(text.c_str(), text.c_str() + text.size());
            ImGui::PopStyleColor();
        }
        ImGui::EndChild();
        ImGui::PopStyleColor();
        ImGui::SetCursorPosY(ImGui::GetCursorPosY() + 4);
    }
}

void drawSidePanel(const LauncherSnapshot& snapshot, ScreenState& screen) {
    const LauncherConfig& config = launcherConfig();
    drawFilledRect(635, 40, 300, 405, ImVec4(0.03f, 0.03f, 0.03f, 0.82f), 4);

    ImGui::SetCursorPos(ImVec2(648, 45));
    ImGui::PushStyleColor(ImGuiCol_Text, accentColour);
    ImGui::TextUnformatted(screen.settingsView ? "SETTINGS" : "RECENT NEWS");
    ImGui::PopStyleColor();

    ImGui::SetCursorPos(ImVec2(780, 43));
    if (colouredButton("f", ImVec2(22, 20), ImVec4(0.23f, 0.35f, 0.67f, 0.9f), ImVec4(0.33f, 0.45f, 0.77f, 1.0f),
                       ImVec4(0.13f, 0.25f, 0.57f, 1.0f)))
        withoutWindowInput([&] { openUrl(config.CommunityUrl); });
    ImGui::SetCursorPos(ImVec2(806, 43));
    if (colouredButton("D", ImVec2(22, 20), ImVec4(0.27f, 0.33f, 0.7f, 0.9f), ImVec4(0.37f, 0.43f, 0.8f, 1.0f),
                       ImVec4(0.17f, 0.23f, 0.6f, 1.0f)))
        withoutWindowInput([&] { openUrl(config.ChatUrl); });
    ImGui::SetCursorPos(ImVec2(832, 43));
    const ImVec4 toggleNormal = screen.settingsView ? PanelCogOn : ImVec4(0.18f, 0.18f, 0.18f, 0.8f);
    if (colouredButton(ICON_COG "##inner", ImVec2(22, 20), toggleNormal, CogHovered, CogActive))
        screen.settingsView = !screen.settingsView;

    drawLine(640, 67, 930, 67, ImVec4(1.0f, 0.4f, 0.0f, 0.5f), 1);

    ImGui::SetCursorPos(ImVec2(645, 73));
    if (ImGui::BeginChild("##NewsScroll", ImVec2(280, 315), false, ImGuiWindowFlags_NoScrollbar)) {
        if (screen.settingsView)
            drawSettingsPanel();
        else
            drawNewsList(snapshot.newsItems);
    }
    ImGui::EndChild();

    const ImVec4 linkNormal(0.7f, 0.22f, 0.02f, 0.9f), linkHovered(0.9f, 0.35f, 0.05f, 1.0f),
        linkActive(1.0f, 0.45f, 0.1f, 1.0f);
    const struct {
        float x;
        const char* label;
    } links[] = {{671, "Website"}, {749, "Vote Us"}, {827, "Donate"}};
    for (const auto& link : links) {
        ImGui::SetCursorPos(ImVec2(link.x, 394));
        if (colouredButton(link.label, ImVec2(72, 24), linkNormal, linkHovered, linkActive))
            withoutWindowInput([&] { openUrl(config.WebsiteUrl); });
    }
}

void drawPlayControls(ScreenState& screen) {
    ImGui::PushStyleColor(ImGuiCol_Button, ImVec4(0.15f, 0.15f, 0.15f, 0.7f));
    ImGui::PushStyleColor(ImGuiCol_ButtonHovered, ImVec4(0.25f, 0.25f, 0.25f, 0.9f));
    ImGui::PushStyleColor(ImGuiCol_ButtonActive, ImVec4(0.35f, 0.35f, 0.35f, 1.0f));
    ImGui::SetCursorPos(ImVec2(745, 448));
    if (AnimatedButton("-##dec", ImVec2(22, 20))) screen.clientCount = clientCountAfterMinus(screen.clientCount);
    ImGui::SameLine(0.0f, 6.0f);
    ImGui::Text("%d", screen.clientCount);
    ImGui::SameLine(0.0f, 6.0f);
    if (AnimatedButton("+##inc", ImVec2(22, 20))) screen.clientCount = clientCountAfterPlus(screen.clientCount);
    ImGui::PopStyleColor(3);

    ImGui::SetCursorPos(ImVec2(705, 474));
    // After a failed start launchGame returns and the frame goes on, so the
    // window keeps drawing and PLAY can be pressed again; clicks made during the
    // starts and the failure's message box are not replayed afterwards.
    if (colouredButton("  PLAY  ", ImVec2(160, 40), ImVec4(0.7f, 0.22f, 0.02f, 0.95f), ImVec4(0.9f, 0.35f, 0.05f, 1.0f),
                       ImVec4(1.0f, 0.5f, 0.1f, 1.0f)))
        withoutWindowInput([&] { launchGame(screen.clientCount); });
}

void drawStatusBlock(const LauncherSnapshot& snapshot) {
    ImGui::PushStyleColor(ImGuiCol_Text, StatusColour);
    if (!snapshot.statusText.empty()) centredStatusText(statusLine(snapshot.statusText), StatusBlockTop);
    centredStatusText("Server Status: Online", StatusBlockTop + 16);
    centredStatusText(versionLine(snapshot.installedVersion), StatusBlockTop + 32);
    ImGui::PopStyleColor();
}

void drawProgressBar() {
    drawFilledRect(320, 497, 300, 8, ImVec4(1.0f, 1.0f, 1.0f, 0.12f), 3);
    const float fill = progressFillWidth(downloadPercent());
    if (fill > 2.0f) drawFilledRect(320, 497, fill, 8, ImVec4(0.85f, 0.35f, 0.0f, 1.0f), 3);
    const std::string rate = downloadTransferRate().text();
    if (!rate.empty()) {
        ImGui::PushStyleColor(ImGuiCol_Text, StatusColour);
        ImGui::SetCursorPos(ImVec2(628, 493));
        ImGui::TextUnformatted(rate.c_str());
        ImGui::PopStyleColor();
    }
}

}  // namespace

ScreenState& screenState() {
    static ScreenState state;
    return state;
}

std::string statusLine(const std::string& statusText) {
    return statusText.empty() ? std::string() : "Status: " + statusText;
}

std::string versionLine(const std::string& installedVersion) {
    return "Current/Latest Version: " + installedVersion + "/" + installedVersion;
}

float centredTextX(float measuredWidth) { return StatusCentreX - measuredWidth / 2.0f; }

bool showsProgressBar(LauncherPhase phase) {
    return phase == LauncherPhase::SelfUpdating || phase == LauncherPhase::Patching ||
           phase == LauncherPhase::Verifying;
}

bool showsPlayControls(LauncherPhase phase) { return phase == LauncherPhase::Ready; }

float progressFillWidth(int percent) { return static_cast<float>(std::clamp(percent, 0, 100)) * 3.0f; }

bool mainScreenContentChanged() {
    struct Seen {
        std::uint64_t revision = ~std::uint64_t{0};
        LauncherPhase phase = LauncherPhase::Idle;
        int percent = -1;
        std::string rate;
    };
    static Seen& seen = *new Seen;  // never destroyed: the process may end while this thread draws
    Seen now{launcherState.revision(), launcherState.phase.load(), downloadPercent(),
             showsProgressBar(launcherState.phase.load()) ? downloadTransferRate().text() : std::string()};
    const bool changed = now.revision != seen.revision || now.phase != seen.phase || now.percent != seen.percent ||
                         now.rate != seen.rate;
    seen = std::move(now);
    return changed;
}

void drawMainScreen() {
    // What workers wrote, copied once per frame under the state's lock. Never
    // destroyed: the process may end while this thread draws.
    static LauncherSnapshot& snapshot = *new LauncherSnapshot;
    launcherState.refreshSnapshot(snapshot);
    ScreenState& screen = screenState();

    // Root window over the whole client area
    ImGui::SetNextWindowPos(ImVec2(0, 0));
    ImGui::SetNextWindowSize(ImVec2(static_cast<float>(WindowWidth), static_cast<float>(WindowHeight)));
    ImGui::PushStyleVar(ImGuiStyleVar_WindowPadding, ImVec2(0, 0));
    ImGui::PushStyleVar(ImGuiStyleVar_WindowBorderSize, 0.0f);
    ImGui::Begin("##Root", nullptr,
                 ImGuiWindowFlags_NoTitleBar | ImGuiWindowFlags_NoResize | ImGuiWindowFlags_NoMove |
                     ImGuiWindowFlags_NoScrollbar | ImGuiWindowFlags_NoBackground);
    ImGui::PopStyleVar(2);

    ImGui::SetCursorPos(ImVec2(0, 0));
    if (backgroundTexture)
        ImGui::Image(backgroundTexture, ImVec2(static_cast<float>(WindowWidth), static_cast<float>(WindowHeight)),
                     ImVec2(0, 0), ImVec2(1, 1), ImVec4(1, 1, 1, 1), ImVec4(0, 0, 0, 0));

    drawTitleBar(snapshot, screen);
    if (screen.sidePanelOpen) drawSidePanel(snapshot, screen);
    if (showsPlayControls(snapshot.phase)) drawPlayControls(screen);
    drawStatusBlock(snapshot);
    if (showsProgressBar(snapshot.phase)) drawProgressBar();

    drawRect(0, 0, static_cast<float>(WindowWidth), static_cast<float>(WindowHeight),
             ImVec4(accentColour.x, accentColour.y, accentColour.z, 0.6f), 2.0f, 0.0f);
    ImGui::End();
}

}  // namespace starfell
