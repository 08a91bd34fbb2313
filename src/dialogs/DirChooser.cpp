#include "dialogs/DirChooser.h"

#include "env/MessageBoxes.h"
#include "env/Text.h"
#include "update/Folders.h"

const char* const kNewFolderMenuText = "&Neuen Ordner anlegen";
const char* const kNewFolderName = "Neuer Ordner";
const char* const kFolderNotCreatedText = "Ordner konnte nicht angelegt werden";
const char* const kNoUnpackFolderText =
    "Hier kann nichts ausgepackt werden.\rBitte wählen Sie ein Laufwerk oder einen Ordner.";

namespace {

// A one-character name directly below a drive's root: "C:\X".
bool IsSingleLetterBelowRoot(const std::string& path) {
    std::size_t n = path.size();
    return n >= 3 && path[n - 3] == ':' && path[n - 2] == '\\';
}

// One axis of a box: where it starts and how long it is. Anchored to the far
// edge only, it keeps its distance to that edge; to both, it stretches.
void Anchor1D(int designStart, int designLength, int designParent, bool nearEdge, bool farEdge, int parent,
              int& start, int& length) {
    length = designLength;
    if (nearEdge && farEdge) {
        start = designStart;
        length = parent - designStart - (designParent - designStart - designLength);
    } else if (farEdge) {
        start = parent - (designParent - designStart);
    } else {
        start = designStart;
    }
}

}  // namespace

std::string NearestExistingFolder(const std::string& directory) {
    if (directory.empty()) return std::string();
    std::string candidate = directory;
    while (!FolderExists(candidate)) {
        if (IsSingleLetterBelowRoot(candidate)) break;
        candidate = FolderPart(candidate);
        if (candidate.empty() || candidate.back() != '\\') break;
        candidate.pop_back();
    }
    return FolderExists(candidate) ? candidate : std::string();
}

std::string ChosenDirectory(const std::string& selectedPath) {
    if (selectedPath.empty()) return "\\";
    std::string chosen = selectedPath;
    EnsureTrailingBackslash(chosen);
    return chosen;
}

bool UnpackFolderChosen(bool okPressed, const std::string& directory) {
    if (!okPressed) return false;
    if (directory != "\\") return true;
    ShowInfo(kNoUnpackFolderText);
    return false;
}

std::string NewFolderPath(const std::string& selectedPath, const std::string& name) {
    if (selectedPath.empty()) return std::string();
    std::string path = selectedPath;
    EnsureTrailingBackslash(path);
    return path + name;
}

Box AnchoredBox(const Box& designBox, const Extent& design, unsigned anchors, const Extent& parent) {
    Box box;
    Anchor1D(designBox.left, designBox.width, design.width, anchors & akLeft, anchors & akRight, parent.width,
             box.left, box.width);
    Anchor1D(designBox.top, designBox.height, design.height, anchors & akTop, anchors & akBottom, parent.height,
             box.top, box.height);
    return box;
}

Extent MinimumChooserSize(int cancelWidth, int newFolderButtonWidth) {
    return Extent{2 * cancelWidth + newFolderButtonWidth + 40, 200};
}
