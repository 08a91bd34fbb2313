// Control identifiers of the main window; the GUI tests address controls by them.
#pragma once

enum MainWindowControl : int {
    kIdLabelUpdateName = 101,
    kIdLabelVersion = 102,
    kIdLabelCopyright = 103,
    kIdLabelCoriText = 104,
    kIdCheckBoxLongLog = 105,
    kIdButtonStart = 106,
    kIdButtonComplete = 107,
    kIdButtonCancel = 2,  // IDCANCEL, so that Esc reaches it
    kIdButtonUnpack = 109,
    kIdLabelProgress = 110,
    kIdMemoProtokoll = 111,
    kIdProgressBar = 112,
};
