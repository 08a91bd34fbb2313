#include "dialogs/Windows/Dialogs.h"

// The dialogs are not built yet: the about box shows nothing and the chooser
// reports a cancel, so "alles auspacken" does nothing.
void ShowAboutBox(HWND, const AboutFields&) {}

bool ChooseDirectory(HWND, std::string&) { return false; }
