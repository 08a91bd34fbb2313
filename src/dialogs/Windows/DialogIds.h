// Control identifiers of the about box and the directory chooser; the GUI tests address controls by them.
#pragma once

enum AboutControl : int {
    kIdAboutIcon = 301,
    kIdAboutHead1 = 302,
    kIdAboutHead2 = 303,
    kIdAboutPicture = 304,
    kIdAboutCredit = 305,
    kIdAboutWww = 306,
    kIdAboutEmail = 307,
    kIdAboutHelp = 9,  // IDHELP
    kIdAboutDate = 308,
    // The OK button is IDOK (1).
};

enum DirSelControl : int {
    kIdShellTreeView1 = 201,
    kIdPanel1 = 202,
    kIdLabelDirectory = 203,
    kIdPanelNewFolder = 204,
    kIdLabelNewFolder = 205,
    kIdEditNewFolder = 206,
    kIdBitBtnCancel = 207,
    kIdBitBtnOK = 208,
    kIdSpeedButton1 = 209,
    kIdMenuNewFolder = 210,  // the context menu's one item
};
