// TShellTreeView: a tree of the machine's drives and folders on a comctl32
// tree-view, as the directory chooser needs it. The root is the shell's "My
// Computer"; below it the drives, below them folders only, read when an entry
// is first expanded. Entries carry the shell's icons; a right click selects
// the entry under the mouse before the context menu opens; folder names are
// renamed in place (F2 or a click on the selected entry).
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "platform/WindowsSupport.h"

#include <commctrl.h>

class TShellTreeView {
public:
    TShellTreeView() = default;
    TShellTreeView(const TShellTreeView&) = delete;
    TShellTreeView& operator=(const TShellTreeView&) = delete;

    // Creates the control inside `parent` with the given id and fills its first two levels.
    void create(HWND parent, int id, int x, int y, int width, int height, HFONT font);
    HWND handle() const { return tree_; }

    // The file-system path of the selected entry; empty for none or one without a path.
    std::string path() const;
    // Selects the entry of an existing path, reading folders on the way. Raises
    // when the path has no entry in the tree.
    void setPath(const std::string& path);
    HTREEITEM selected() const;
    // Reads the children of an entry again (a folder was created below it).
    void refresh(HTREEITEM item);
    // Opens an entry, reading its folders first.
    void expand(HTREEITEM item);

    // Notifications to the owner: a function given the owner, or none.
    struct Notice {
        void (*call)(void* owner) = nullptr;
        void* owner = nullptr;
        explicit operator bool() const { return call != nullptr; }
        void operator()() const { call(owner); }
    };
    Notice onChange;     // the selection changed
    Notice onEditStart;  // the user began to edit a name
    Notice onEditEnd;    // the edit ended, taken or not
    // The popup menu that a right click (or the menu key) opens; its commands
    // go to the tree's parent. None: no menu.
    HMENU contextMenu = nullptr;

    // The tree's WM_NOTIFY, passed on by the parent; true when handled, with the result to answer.
    bool notify(const NMHDR& header, LRESULT& result);
    // WM_CONTEXTMENU from the keyboard (position -1, -1): the menu at the selected entry.
    void showContextMenu(POINT screen);

private:
    struct Node {
        std::string path;      // "" for the root
        bool drive = false;
        bool loaded = false;   // children read
        int hasChildren = -1;  // -1 not probed yet
    };

    Node* nodeOf(HTREEITEM item) const;
    HTREEITEM insert(HTREEITEM parent, const std::string& label, Node node, int image, int openImage, int children);
    void insertDrives(HTREEITEM root);
    void loadChildren(HTREEITEM item);
    void deleteChildren(HTREEITEM item);
    HTREEITEM findChild(HTREEITEM parent, const std::string& name);
    HTREEITEM childNamed(HTREEITEM parent, const std::string& name);
    void rightClick();
    bool beginEdit(const NMTVDISPINFOA& info);
    bool endEdit(const NMTVDISPINFOA& info);
    void onGetDispInfo(NMTVDISPINFOA& info);

    HWND tree_ = nullptr;
    HTREEITEM root_ = nullptr;
    std::vector<std::unique_ptr<Node>> nodes_;  // owned for the control's lifetime
};
