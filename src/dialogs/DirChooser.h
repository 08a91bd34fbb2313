// The directory chooser's rules that need no window: the search for the nearest
// existing folder, the folder paths it creates and reports, the anchoring of
// its controls and its minimum size. The window is Win32 code
// (dialogs/Windows/FormDirSel.h); everything here is portable and tested natively.
#pragma once

#include <string>

#include "dialogs/About.h"

extern const char* const kNewFolderMenuText;       // "&Neuen Ordner anlegen"
extern const char* const kNewFolderName;           // "Neuer Ordner"
extern const char* const kFolderNotCreatedText;    // "Ordner konnte nicht angelegt werden"
extern const char* const kNoUnpackFolderText;      // why the root entry takes nothing

// The folder to select for `directory`: the directory itself or its nearest
// existing ancestor; empty when the search finds none. The search gives up at
// once on a missing one-character name directly below a drive's root ("C:\X\").
std::string NearestExistingFolder(const std::string& directory);
// The chooser's result for the selected path: with a trailing backslash; a
// single backslash for an entry without a file-system path.
std::string ChosenDirectory(const std::string& selectedPath);
// Whether "alles auspacken" has a folder to unpack into after the chooser
// closed (`okPressed`) with `directory`. OK on the root entry (a lone "\\",
// no folder of the file system) tells the user so in a short message.
bool UnpackFolderChosen(bool okPressed, const std::string& directory);
// The folder to create below the selected path; empty when the selection has
// no file-system path (nothing may be created then).
std::string NewFolderPath(const std::string& selectedPath, const std::string& name);

// Which edges of its parent a control keeps its distance to.
enum Anchor : unsigned { akLeft = 1, akTop = 2, akRight = 4, akBottom = 8 };

// The control's box in a parent of client size `parent`, given its box in the
// design-time client size `design`. A control anchored to both opposite edges
// stretches; one anchored to neither of them stays where it is on that axis.
Box AnchoredBox(const Box& designBox, const Extent& design, unsigned anchors, const Extent& parent);

// The smallest window size: twice the cancel button's width plus the new-folder
// button's width plus 40, and 200 high.
Extent MinimumChooserSize(int cancelWidth, int newFolderButtonWidth);
