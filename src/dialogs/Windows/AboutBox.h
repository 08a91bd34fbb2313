// TAbout: the about box. Its properties and rules are portable
// (dialogs/About.h); Execute builds the window in code on every call.
#pragma once

#include "dialogs/About.h"
#include "platform/WindowsSupport.h"

class TAbout final : public TAboutProperties {
public:
    using TAboutProperties::TAboutProperties;
    // Shows the box modally, centred on `owner`; true when it was closed with OK.
    // Raises "deleteObject gescheitert" when the picture's bitmap cannot be released.
    bool Execute(HWND owner);
};
