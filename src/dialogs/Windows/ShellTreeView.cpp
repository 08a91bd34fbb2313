#include "dialogs/Windows/ShellTreeView.h"

#include <objbase.h>
#include <shellapi.h>
#include <shlobj.h>


#include "base/Exception.h"
#include "dialogs/Windows/DialogSupport.h"
#include "env/Text.h"

namespace {

struct ShellIcons {
    int image = 0, openImage = 0;
};

// The shell's small icons of a file-system path, closed and open.
ShellIcons IconsOf(const std::string& path, UINT extraFlags = 0) {
    ShellIcons icons;
    SHFILEINFOA info = {};
    const UINT flags = SHGFI_SYSICONINDEX | SHGFI_SMALLICON | extraFlags;
    if (SHGetFileInfoA(path.c_str(), FILE_ATTRIBUTE_DIRECTORY, &info, sizeof info, flags)) icons.image = info.iIcon;
    icons.openImage = icons.image;
    if (SHGetFileInfoA(path.c_str(), FILE_ATTRIBUTE_DIRECTORY, &info, sizeof info, flags | SHGFI_OPENICON))
        icons.openImage = info.iIcon;
    return icons;
}

// The shell's name of a drive ("Lokaler Datenträger (C:)"); the bare "C:" when it has none.
std::string DriveLabel(const std::string& root, bool removable) {
    SHFILEINFOA info = {};
    // A removable drive is not touched: its medium may be missing.
    UINT flags = SHGFI_DISPLAYNAME | (removable ? SHGFI_USEFILEATTRIBUTES : 0);
    std::string label;
    if (SHGetFileInfoA(root.c_str(), FILE_ATTRIBUTE_DIRECTORY, &info, sizeof info, flags)) label = info.szDisplayName;
    TrimBlanks(label);  // a drive without a volume name is " (C:)"
    return label.empty() ? root.substr(0, 2) : label;
}

// The names of the sub-folders of a folder (ending with "\"), in the order the file system gives them.
std::vector<std::string> SubFolders(const std::string& folder, bool firstOnly) {
    std::vector<std::string> names;
    WIN32_FIND_DATAA found;
    ScopedFindHandle find(FindFirstFileA((folder + "*").c_str(), &found));
    if (!find) return names;
    do {
        std::string name = found.cFileName;
        if ((found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0 || name == "." || name == "..") continue;
        names.push_back(name);
        if (firstOnly) break;
    } while (FindNextFileA(find.get(), &found));
    return names;
}

bool IsValidFolderName(const std::string& name) {
    return !name.empty() && name != "." && name != ".." && name.find_first_of("\\/:*?\"<>|") == std::string::npos;
}

}  // namespace

void TShellTreeView::create(HWND parent, int id, int x, int y, int width, int height, HFONT font) {
    const DWORD style = WS_CHILD | WS_VISIBLE | WS_TABSTOP | WS_CLIPSIBLINGS | TVS_HASBUTTONS | TVS_HASLINES |
                        TVS_EDITLABELS | TVS_SHOWSELALWAYS;
    tree_ = CreateWindowExA(WS_EX_CLIENTEDGE, WC_TREEVIEWA, "", style, x, y, width, height, parent,
                            reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)), GetModuleHandleA(nullptr), nullptr);
    if (!tree_) throw Exception("Die Ordneransicht kann nicht angelegt werden");
    SendMessageA(tree_, WM_SETFONT, reinterpret_cast<WPARAM>(font), FALSE);
    SendMessageA(tree_, TVM_SETINDENT, 19, 0);
    SHFILEINFOA info = {};
    auto images = reinterpret_cast<HIMAGELIST>(SHGetFileInfoA(
        "C:\\", FILE_ATTRIBUTE_DIRECTORY, &info, sizeof info, SHGFI_SYSICONINDEX | SHGFI_SMALLICON | SHGFI_USEFILEATTRIBUTES));
    if (images) TreeView_SetImageList(tree_, images, TVSIL_NORMAL);

    // The root: the shell's "My Computer" with its name and icon.
    std::string label = "Arbeitsplatz";
    int icon = 0;
    LPITEMIDLIST computer = nullptr;
    if (SUCCEEDED(SHGetSpecialFolderLocation(nullptr, CSIDL_DRIVES, &computer)) && computer) {
        if (SHGetFileInfoA(reinterpret_cast<LPCSTR>(computer), 0, &info, sizeof info,
                           SHGFI_PIDL | SHGFI_DISPLAYNAME | SHGFI_SYSICONINDEX | SHGFI_SMALLICON)) {
            if (info.szDisplayName[0]) label = info.szDisplayName;
            icon = info.iIcon;
        }
        CoTaskMemFree(computer);
    }
    root_ = insert(TVI_ROOT, label, Node{}, icon, icon, 1);
    insertDrives(root_);
    nodeOf(root_)->loaded = true;
    TreeView_Expand(tree_, root_, TVE_EXPAND);
}

TShellTreeView::Node* TShellTreeView::nodeOf(HTREEITEM item) const {
    if (!item) return nullptr;
    TVITEMA tv = {};
    tv.mask = TVIF_PARAM | TVIF_HANDLE;
    tv.hItem = item;
    if (!TreeView_GetItem(tree_, &tv)) return nullptr;
    return reinterpret_cast<Node*>(tv.lParam);
}

HTREEITEM TShellTreeView::insert(HTREEITEM parent, const std::string& label, Node node, int image, int openImage,
                                 int children) {
    nodes_.push_back(std::make_unique<Node>(std::move(node)));
    TVINSERTSTRUCTA ins = {};
    ins.hParent = parent;
    ins.hInsertAfter = TVI_LAST;
    ins.item.mask = TVIF_TEXT | TVIF_PARAM | TVIF_IMAGE | TVIF_SELECTEDIMAGE | TVIF_CHILDREN;
    ins.item.pszText = const_cast<char*>(label.c_str());
    ins.item.lParam = reinterpret_cast<LPARAM>(nodes_.back().get());
    ins.item.iImage = image;
    ins.item.iSelectedImage = openImage;
    ins.item.cChildren = children;
    return TreeView_InsertItem(tree_, &ins);
}

void TShellTreeView::insertDrives(HTREEITEM root) {
    DWORD drives = GetLogicalDrives();
    for (int i = 0; i < 26; ++i) {
        if ((drives & (1u << i)) == 0) continue;
        Node node;
        node.path = std::string(1, static_cast<char>('A' + i)) + ":\\";
        node.drive = true;
        bool removable = GetDriveTypeA(node.path.c_str()) == DRIVE_REMOVABLE;
        ShellIcons icons = IconsOf(node.path, removable ? SHGFI_USEFILEATTRIBUTES : 0);
        std::string label = DriveLabel(node.path, removable);
        insert(root, label, std::move(node), icons.image, icons.image, I_CHILDRENCALLBACK);
    }
}

void TShellTreeView::loadChildren(HTREEITEM item) {
    Node* node = nodeOf(item);
    if (!node || node->loaded) return;
    node->loaded = true;
    std::string folder = node->path;
    EnsureTrailingBackslash(folder);
    std::vector<std::string> names = SubFolders(folder, false);
    node->hasChildren = names.empty() ? 0 : 1;
    for (const std::string& name : names) {
        Node child;
        child.path = folder + name;
        ShellIcons icons = IconsOf(child.path);
        insert(item, name, std::move(child), icons.image, icons.openImage, I_CHILDRENCALLBACK);
    }
    // The tree view sorts them without regard to case, as Explorer shows them.
    TreeView_SortChildren(tree_, item, FALSE);
}

void TShellTreeView::deleteChildren(HTREEITEM item) {
    while (HTREEITEM child = TreeView_GetChild(tree_, item)) TreeView_DeleteItem(tree_, child);
}

HTREEITEM TShellTreeView::childNamed(HTREEITEM parent, const std::string& name) {
    for (HTREEITEM child = TreeView_GetChild(tree_, parent); child; child = TreeView_GetNextSibling(tree_, child)) {
        Node* node = nodeOf(child);
        if (!node) continue;
        std::string own = node->path;
        DropTrailingBackslash(own);
        if (SameText(node->drive ? own : NamePart(own), name)) return child;
    }
    return nullptr;
}

// The child of that name, reading the parent's folders again when it is not known yet.
HTREEITEM TShellTreeView::findChild(HTREEITEM parent, const std::string& name) {
    loadChildren(parent);
    if (HTREEITEM child = childNamed(parent, name)) return child;
    refresh(parent);
    return childNamed(parent, name);
}

std::string TShellTreeView::path() const {
    Node* node = nodeOf(selected());
    return node ? node->path : std::string();
}

HTREEITEM TShellTreeView::selected() const { return TreeView_GetSelection(tree_); }

void TShellTreeView::setPath(const std::string& path) {
    std::string rest = path;
    DropTrailingBackslash(rest);
    HTREEITEM item = rest.size() >= 2 && rest[1] == ':' ? childNamed(root_, rest.substr(0, 2)) : nullptr;
    if (item) rest.erase(0, 2);
    while (item && !rest.empty()) {
        std::size_t start = rest.find_first_not_of('\\');
        if (start == std::string::npos) break;
        std::size_t end = rest.find('\\', start);
        std::string name = rest.substr(start, end == std::string::npos ? std::string::npos : end - start);
        rest = end == std::string::npos ? std::string() : rest.substr(end);
        item = findChild(item, name);
    }
    if (!item) throw Exception(path + "\rkann in der Ordneransicht nicht gewählt werden");
    TreeView_SelectItem(tree_, item);
    TreeView_EnsureVisible(tree_, item);
}

void TShellTreeView::refresh(HTREEITEM item) {
    Node* node = nodeOf(item);
    if (!node) return;
    deleteChildren(item);
    node->loaded = false;
    node->hasChildren = -1;
    loadChildren(item);
    // The button follows what was found; an open entry stays open.
    TVITEMA tv = {};
    tv.mask = TVIF_HANDLE | TVIF_CHILDREN;
    tv.hItem = item;
    tv.cChildren = I_CHILDRENCALLBACK;
    TreeView_SetItem(tree_, &tv);
}

void TShellTreeView::expand(HTREEITEM item) {
    loadChildren(item);
    TreeView_Expand(tree_, item, TVE_EXPAND);
}

void TShellTreeView::onGetDispInfo(NMTVDISPINFOA& info) {
    if ((info.item.mask & TVIF_CHILDREN) == 0) return;
    Node* node = reinterpret_cast<Node*>(info.item.lParam);
    if (!node) return;
    if (node->loaded) {
        node->hasChildren = TreeView_GetChild(tree_, info.item.hItem) ? 1 : 0;
    } else if (node->hasChildren < 0) {
        // A drive is not read before it is opened; a folder is probed for one sub-folder.
        node->hasChildren = node->drive ? 1 : !SubFolders(AddPathSeparator(node->path), true).empty();
    }
    info.item.cChildren = node->hasChildren;
}

void TShellTreeView::rightClick() {
    POINT screen;
    GetCursorPos(&screen);
    TVHITTESTINFO hit = {};
    hit.pt = screen;
    ScreenToClient(tree_, &hit.pt);
    if (HTREEITEM item = TreeView_HitTest(tree_, &hit)) TreeView_SelectItem(tree_, item);
    showContextMenu(screen);
}

void TShellTreeView::showContextMenu(POINT screen) {
    if (!contextMenu) return;
    if (screen.x == -1 && screen.y == -1) {
        RECT r = {};
        HTREEITEM item = selected();
        if (!item || !TreeView_GetItemRect(tree_, item, &r, TRUE)) GetClientRect(tree_, &r);
        screen = POINT{r.left, r.bottom};
        ClientToScreen(tree_, &screen);
    }
    TrackPopupMenu(contextMenu, TPM_LEFTALIGN | TPM_RIGHTBUTTON, screen.x, screen.y, 0, GetParent(tree_), nullptr);
}

// Drives and the root keep their names; a folder's name may be edited.
bool TShellTreeView::beginEdit(const NMTVDISPINFOA& info) {
    Node* node = nodeOf(info.item.hItem);
    if (!node || node->path.empty() || node->drive) return false;
    if (onEditStart) onEditStart();
    return true;
}

// Renames the folder; true when the tree may show the new name.
bool TShellTreeView::endEdit(const NMTVDISPINFOA& info) {
    struct EndNotice {
        const Notice& notice;
        ~EndNotice() {
            if (notice) notice();
        }
    } end{onEditEnd};
    Node* node = nodeOf(info.item.hItem);
    if (!node || info.item.pszText == nullptr) return false;
    const std::string name = info.item.pszText;
    const std::string target = FolderPart(node->path) + name;
    if (target == node->path) return false;
    if (!IsValidFolderName(name) || !MoveFileA(node->path.c_str(), target.c_str())) {
        ShowErrorBox(GetParent(tree_), "Ordner konnte nicht umbenannt werden");
        return false;
    }
    node->path = target;
    refresh(info.item.hItem);  // the sub-folders' paths changed with it
    if (onChange && info.item.hItem == selected()) onChange();
    return true;
}

bool TShellTreeView::notify(const NMHDR& header, LRESULT& result) {
    if (header.hwndFrom != tree_) return false;
    result = 0;
    switch (header.code) {
    case TVN_SELCHANGEDA:
        if (onChange) onChange();
        return true;
    case TVN_ITEMEXPANDINGA: {
        const auto& change = reinterpret_cast<const NMTREEVIEWA&>(header);
        if (change.action & TVE_EXPAND) loadChildren(change.itemNew.hItem);
        return true;
    }
    case TVN_GETDISPINFOA:
        onGetDispInfo(const_cast<NMTVDISPINFOA&>(reinterpret_cast<const NMTVDISPINFOA&>(header)));
        return true;
    case TVN_BEGINLABELEDITA:
        result = beginEdit(reinterpret_cast<const NMTVDISPINFOA&>(header)) ? FALSE : TRUE;
        return true;
    case TVN_ENDLABELEDITA:
        result = endEdit(reinterpret_cast<const NMTVDISPINFOA&>(header)) ? TRUE : FALSE;
        return true;
    case TVN_KEYDOWN:
        if (reinterpret_cast<const NMTVKEYDOWN&>(header).wVKey != VK_F2 || !selected()) return false;
        TreeView_EditLabel(tree_, selected());
        result = TRUE;
        return true;
    case NM_RCLICK:
        rightClick();
        result = TRUE;
        return true;
    }
    return false;
}
