// The package folder as the builder sees it: every file below DIR with the
// archive name it gets (code page 1252, backslashes), in archive order.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

struct SourceFile {
    std::string name;             // archive name, code page 1252
    std::filesystem::path path;   // empty for a deletion list that the builder writes itself
    std::int64_t size = 0;
    std::int64_t modified = 0;    // seconds since 1970, UTC
    bool singleSegment = false;   // update.ini and todel.txt are read whole
};

struct SourceTree {
    std::vector<SourceFile> files;    // todel.txt, update.ini, then the others in byte order of their names
    std::vector<std::string> errors;  // files the archive cannot hold, in UTF-8; nothing is built when any
    bool generatedDeletionList = false;
};

// One file of a release of the application, as `mkupdate diff` compares them.
struct ReleaseFile {
    std::string name;             // relative name, code page 1252, backslashes
    std::string shown;            // relative name, UTF-8, as the host spells it
    std::filesystem::path path;
    std::int64_t size = 0;
    std::int64_t modified = 0;    // seconds since 1970, UTC
    std::string problem;          // why the archive or Windows cannot hold it; empty when they can
};

struct ReleaseTree {
    std::vector<ReleaseFile> files;   // in byte order of their names
    std::vector<std::string> errors;  // what could not be walked, in UTF-8
};

inline const char* const kControlFileName = "update.ini";
inline const char* const kDeletionListName = "todel.txt";

SourceTree ScanSourceTree(const std::filesystem::path& dir);
// Every file below `dir`, also those whose names the archive cannot hold.
ReleaseTree ScanReleaseTree(const std::filesystem::path& dir);

// Why the archive name cannot be written to a Windows folder, or empty when it
// can: characters Windows refuses, elements ending in a dot or blank.
std::string WindowsNameProblem(const std::string& name);
