// The name under which Windows registers a TrueType font: the full font name
// (name ID 4) of the file's naming table.
#pragma once

#include <filesystem>
#include <string>

// The full name in code page 1252, or empty when the file holds none that fits.
std::string TrueTypeFullName(const std::filesystem::path& file);
