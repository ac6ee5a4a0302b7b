// Verification and repair of the game files the server lists.
#pragma once
#include <string>

namespace starfell {

// Handler of a FileCheck packet (whole packet, type included).
void verifyGameFiles(const std::string& packet);

}  // namespace starfell
