// The native file system finds names without regard to case through an index
// per folder. The index must never answer from an old state: every change
// made behind the file system's back, right after a lookup built the index,
// is seen by the next lookup.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <functional>

#include "common/TestSupport.h"
#include "platform/FileSystem.h"
#include "platform/NativeSandbox.h"

namespace fs = std::filesystem;

namespace {

// Changes made with plain host calls, not through the updater's file system.
class Host {
public:
    explicit Host(std::string root) : root_(std::move(root)) {}
    void create(const std::string& name, const std::string& content = "x") {
        fs::create_directories(fs::path(root_ + "/" + name).parent_path());
        std::ofstream(root_ + "/" + name) << content;
    }
    void remove(const std::string& name) { fs::remove_all(root_ + "/" + name); }
    void rename(const std::string& from, const std::string& to) { fs::rename(root_ + "/" + from, root_ + "/" + to); }
    void link(const std::string& target, const std::string& name) {
        fs::create_directory_symlink(root_ + "/" + target, root_ + "/" + name);
    }

private:
    std::string root_;
};

// The name of the file that a Windows path reaches, relative to `root`; "-" when there is none.
std::string Reached(const std::string& windowsPath, const std::string& root) {
    std::string host = HostPathOf(windowsPath);
    if (!fs::exists(host) || !FileExists(windowsPath)) return "-";
    return fs::relative(host, root).string();
}

using HostAction = std::function<void(Host&, const std::string& folder)>;

struct Case {
    const char* what;
    HostAction setup;                  // before the index exists
    std::vector<const char*> priming;  // Windows names looked up in vain: they build the indexes
    HostAction change;                 // right after
    const char* lookUp;                // Windows name, relative to the case's folder
    const char* reached;               // host name, relative to the case's folder, or "-"
};

void Nothing(Host&, const std::string&) {}

}  // namespace

TEST(FolderIndexTest, ChangesBehindTheFileSystemsBackAreSeenAtOnce) {
    const Case cases[] = {
        {"created", Nothing, {"NEW.TXT"}, [](Host& h, const std::string&) { h.create("new.txt"); }, "NEW.TXT",
         "new.txt"},
        {"created and removed", Nothing, {"GONE.TXT"},
         [](Host& h, const std::string&) { h.create("gone.txt"), h.remove("gone.txt"); }, "gone.txt", "-"},
        {"removed after being found", Nothing, {"x.txt"},
         [](Host& h, const std::string& folder) {
             h.create("Keep.txt");
             EXPECT_TRUE(FileExists(folder + "\\KEEP.TXT"));
             h.remove("Keep.txt");
         },
         "KEEP.TXT", "-"},
        {"renamed to other case", [](Host& h, const std::string&) { h.create("a.txt"); }, {"zz.txt"},
         [](Host& h, const std::string&) { h.rename("a.txt", "A.TXT"); }, "a.txt", "A.TXT"},
        {"folder replaced", [](Host& h, const std::string&) { h.create("sub/keep"); }, {"sub\\none.txt"},
         [](Host& h, const std::string&) { h.remove("sub"), h.create("sub/X.TXT"); }, "SUB\\x.txt", "sub/X.TXT"},
        {"parent renamed, new folder in its place", [](Host& h, const std::string&) { h.create("p/sub/keep"); },
         {"p\\sub\\none.txt"},
         [](Host& h, const std::string&) { h.rename("p", "q"), h.create("p/sub/y.txt"); }, "p\\sub\\Y.TXT",
         "p/sub/y.txt"},
        {"files under the renamed parent", [](Host& h, const std::string&) { h.create("p/sub/keep"); },
         {"p\\sub\\none.txt"},
         [](Host& h, const std::string&) { h.create("p/sub/old.txt"), h.rename("p", "q"); }, "Q\\SUB\\OLD.TXT",
         "q/sub/old.txt"},
        {"grandparent renamed, new folders in its place", [](Host& h, const std::string&) { h.create("g/p/sub/keep"); },
         {"g\\p\\sub\\none.txt"},
         [](Host& h, const std::string&) { h.rename("g", "h"), h.create("g/p/sub/z.txt"); }, "g\\p\\sub\\Z.TXT",
         "g/p/sub/z.txt"},
        {"reached through a link", [](Host& h, const std::string&) { h.create("real/sub/keep"), h.link("real", "link"); },
         {"link\\sub\\none.txt"}, [](Host& h, const std::string&) { h.create("real/sub/new.txt"); },
         "LINK\\SUB\\NEW.TXT", "real/sub/new.txt"},
        {"link turned to another folder", [](Host& h, const std::string&) {
             h.create("one/keep"), h.create("two/w.txt"), h.link("one", "link");
         },
         {"link\\none.txt"}, [](Host& h, const std::string&) { h.remove("link"), h.link("two", "link"); },
         "LINK\\W.TXT", "two/w.txt"},
        {"umlaut in any case", Nothing, {"\xDC" "BER.TXT"}, [](Host& h, const std::string&) { h.create("\xC3\xBC" "ber.txt"); },
         "\xDC" "BER.TXT", "\xC3\xBC" "ber.txt"},
    };
    TempFolder dir;
    int n = 0;
    for (const Case& c : cases) {
        std::string folder = dir / ("case" + std::to_string(n++));
        ASSERT_TRUE(Fs().createFolder(folder));
        std::string root = HostPathOf(folder);
        Host host(root);
        c.setup(host, folder);
        for (const char* name : c.priming) EXPECT_FALSE(FileExists(folder + "\\" + name)) << c.what;
        c.change(host, folder);
        EXPECT_EQ(Reached(folder + "\\" + c.lookUp, root), c.reached) << c.what;
    }
}

TEST(FolderIndexTest, FilesCreatedThroughTheFileSystemAreFoundInAnyCase) {
    TempFolder dir;
    const int kFiles = 300;
    for (int i = 0; i < kFiles; ++i) {
        std::string name = dir / ("Datei" + std::to_string(i) + ".txt");
        ASSERT_FALSE(FileExists(name));
        auto file = Fs().open(name, OpenMode::Create);
        ASSERT_TRUE(file);
        file->write("abc", 3);
    }
    for (int i = 0; i < kFiles; ++i) {
        std::string other = dir / ("DATEI" + std::to_string(i) + ".TXT");
        ASSERT_TRUE(FileExists(other)) << i;
        // Writing under another case replaces the file instead of adding one.
        auto file = Fs().open(other, OpenMode::Create);
        ASSERT_TRUE(file);
    }
    std::size_t count = 0;
    for (const auto& e : fs::directory_iterator(HostPathOf(dir.path()))) count += e.is_regular_file();
    EXPECT_EQ(count, std::size_t(kFiles));
    // A rename through the file system is seen as well.
    ASSERT_TRUE(Fs().replaceFile(dir / "datei0.txt", dir / "Neu.txt"));
    EXPECT_FALSE(FileExists(dir / "DATEI0.TXT"));
    EXPECT_TRUE(FileExists(dir / "NEU.TXT"));
}

TEST(FolderIndexTest, NamesEqualButForCaseStillResolveToAnExistingFile) {
    TempFolder dir;
    std::string root = HostPathOf(dir.path());
    EXPECT_FALSE(FileExists(dir / "Dup.txt"));
    Host host(root);
    host.create("dup.txt", "lower");
    host.create("DUP.TXT", "upper");
    std::string reached = Reached(dir / "Dup.Txt", root);
    EXPECT_TRUE(reached == "dup.txt" || reached == "DUP.TXT") << reached;
    host.remove("DUP.TXT");
    EXPECT_EQ(Reached(dir / "Dup.Txt", root), "dup.txt");
}
