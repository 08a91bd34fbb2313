// REGEDIT4 text for the in-memory registry, so that registry fixtures and
// results read like real exports:
//
//   REGEDIT4
//
//   [HKEY_LOCAL_MACHINE\Software\Mevo\Tarnix.exe\Projects\Demo\Ver]
//   @="3.7"
//   "Name"="a \"quoted\" C:\\path"
//   "Count"=dword:0000000a
//   "Raw"=hex:01,02,ff
//   "Path"=hex(2):25,00
#pragma once

#include <string>

#include "platform/MemoryRegistry.h"

// Adds the keys and values of the text to the registry. Raises Exception
// ("line N: ...") for text that is not REGEDIT4 or for deletions ("[-...]", =-).
void ImportRegText(MemoryRegistry& registry, const std::string& text);
// The key at `path` (hive root when empty) and everything below it; empty text when the key is missing.
std::string ExportRegText(const MemoryRegistry& registry, RootKey hive, const std::string& path = "");

// "HKEY_CURRENT_USER" etc.
std::string HiveName(RootKey hive);
