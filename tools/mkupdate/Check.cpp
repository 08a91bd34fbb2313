// mkupdate check: the control file's own findings, then how it fits the
// package: part trees, deletion lines, fonts and names.
#include "tools/mkupdate/Check.h"

#include <cstdio>
#include <cstring>
#include <exception>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>

#include "archive/Archive.h"
#include "archive/EntryName.h"
#include "base/Cp1252.h"
#include "env/Text.h"
#include "tools/mkupdate/Commands.h"
#include "tools/mkupdate/ControlFileLint.h"
#include "tools/mkupdate/Host.h"
#include "tools/mkupdate/JsonReport.h"
#include "tools/mkupdate/PatchBases.h"
#include "tools/mkupdate/PatchChecks.h"
#include "tools/mkupdate/PatchEntries.h"
#include "tools/mkupdate/SourceTree.h"
#include "tools/mkupdate/Stamps.h"

namespace fs = std::filesystem;

namespace {

// What check looks at, from a folder or from a built package.
struct PackageView {
    std::vector<std::string> names;  // entry names, code page 1252
    std::string controlBytes;        // update.ini; empty when missing
    StringList deletionLines;
    bool hasControlFile = false;
    std::vector<Finding> findings;
    std::vector<std::string> folderErrors;  // files the builder would refuse, UTF-8
    std::string openError;                  // why a package could not be read at all, UTF-8
    std::string openUpdaterText;            // the updater's message about it, UTF-8
    const ReleaseBases* bases = nullptr;    // the old release that patches are applied to, or none
    std::vector<AppliedPatch> applied;      // what came of each of them
};

// The text as readLines takes it: up to the first NUL, split at CR LF, CR, LF.
StringList LinesOf(const std::string& bytes) { return SplitLines(bytes.c_str(), std::strlen(bytes.c_str())); }

std::string ReadHostFile(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

// A file date that build refuses (from 2044 on) or clamps to 1980, which makes
// the entry older than any installed copy, so it is never written.
void CheckFileDate(const SourceFile& file, std::vector<Finding>& out) {
    if (file.path.empty()) return;
    bool installed = file.name != kControlFileName && file.name != kDeletionListName;
    StampPolicy policy;
    std::int32_t stamp = 0;
    std::string error;
    if (!policy.stampOf(file.modified, stamp, error))
        return out.push_back(
            Finding{true, file.name, error + "; build refuses it: give the file a current date (touch)", "file-date"});
    if (policy.clamped() > 0 && installed)
        out.push_back(Finding{true, file.name,
                              "is dated before 1980; build stamps it 1980-01-01, older than any installed copy, so it "
                              "is never written: give the file a current date (touch) or build with --date",
                              "file-date-before-1980"});
}

// A patch that the updater would refuse whatever the installed file is; true when there is none.
bool CheckPatch(const std::string& name, bool hasHeader, const std::string& utf8Problem,
                const std::string& utf8UpdaterText, PackageView& view) {
    if (!hasHeader)
        view.findings.push_back(Finding{true, name, "is no patch: it does not begin with a patch header (a whole "
                                                    "file belongs in add\\ or rep\\; the updater refuses it)",
                                        "not-a-patch", Utf8ToCp1252(utf8UpdaterText)});
    else if (!utf8Problem.empty())
        view.findings.push_back(Finding{true, name, Utf8ToCp1252(utf8Problem) + " (the updater refuses it)",
                                        "patch-damaged", Utf8ToCp1252(utf8UpdaterText)});
    return hasHeader && utf8Problem.empty();
}

bool FileHasPatchHeader(const fs::path& file) {
    std::ifstream in(file, std::ios::binary);
    unsigned char head[kPatchHeaderSize] = {};
    in.read(reinterpret_cast<char*>(head), sizeof head);
    PatchHeader header;
    return ReadPatchHeader(head, std::size_t(in.gcount()), header);
}

void AddBaseFinding(const std::string& name, const BaseReport& report, PackageView& view) {
    Finding finding;
    bool found = BaseFinding(name, report, finding);
    if (found) view.findings.push_back(finding);
    view.applied.push_back(AppliedPatch{Cp1252ToUtf8(name), found ? finding.code : "right", report.text});
}

void ViewFolder(const fs::path& dir, PackageView& view) {
    SourceTree tree = ScanSourceTree(dir);
    view.folderErrors = tree.errors;
    for (const SourceFile& f : tree.files) {
        CheckFileDate(f, view.findings);
        view.names.push_back(f.name);
        std::string updaterText;
        bool patch = IsPatchEntryName(f.name) && !f.path.empty();
        if (patch && CheckPatch(f.name, FileHasPatchHeader(f.path), PatchFileProblem(f.path, updaterText),
                                updaterText, view) && view.bases)
            AddBaseFinding(f.name, ApplyFileToBase(f.path, f.name, *view.bases), view);
        if (f.name == kControlFileName) {
            view.hasControlFile = true;
            view.controlBytes = ReadHostFile(f.path);
        }
        if (f.name == kDeletionListName && !f.path.empty()) view.deletionLines = LinesOf(ReadHostFile(f.path));
    }
}

// The control file and the deletion list as the updater reads them: whole, in one segment.
bool ViewArchive(const std::string& file, PackageView& view) {
    TArchive archive;
    if (!OpenForReading(file, archive, view.openError, view.openUpdaterText)) return false;
    for (std::int32_t i = 0; i < archive.entryCount(); ++i) {
        const std::string& name = archive.entryAt(i).name;
        view.names.push_back(name);
        std::string warning, updaterText, problem = InflateProblem(archive, i, warning, updaterText);
        if (!problem.empty())
            view.findings.push_back(Finding{true, name, problem + " (the entry is damaged)", "entry-damaged", updaterText});
        else if (IsPatchEntryName(name)) {
            PatchHeader header;
            std::string patchProblem = PatchEntryProblem(archive, i, updaterText);
            if (CheckPatch(name, PatchEntryHeader(archive, i, header), patchProblem, updaterText, view) && view.bases)
                AddBaseFinding(name, ApplyEntryToBase(archive, i, *view.bases), view);
        }
        if (!warning.empty())
            view.findings.push_back(
                Finding{false, name, warning + " (the updater ignores that length)", "entry-length-differs"});
    }
    for (const char* name : {kControlFileName, kDeletionListName}) {
        std::vector<unsigned char> buffer;
        try {
            archive.readBuffer(name, buffer, true);
        } catch (const std::exception& e) {
            view.findings.push_back(Finding{true, name, "cannot be read (the updater cannot load the package)",
                                            "control-file-unreadable", e.what()});
            continue;
        }
        std::string bytes(buffer.begin(), buffer.end() - 1);
        if (name == std::string(kControlFileName)) {
            view.hasControlFile = true;
            view.controlBytes = bytes;
        } else {
            view.deletionLines = LinesOf(bytes);
        }
    }
    return true;
}

bool HasPart(const std::vector<std::string>& parts, const std::string& section) {
    for (const std::string& p : parts)
        if (SameText(p, section)) return true;
    return false;
}

bool IsTopLevelFont(const std::string& name) {
    return name.find('\\') == std::string::npos && name.size() >= 4 && SameText(name.substr(name.size() - 4), ".TTF");
}

// An "add\", "rep\" or "pat\" entry: its section must exist and its path stay inside the target folder.
void CheckPartEntry(const std::string& name, const ControlFileFacts& ini, std::vector<Finding>& out) {
    std::size_t slash = name.find('\\', 4);
    if (slash == std::string::npos)
        return out.push_back(Finding{false, name, "lies in no section folder; the updater never installs it", "entry-outside-section"});
    std::string section = name.substr(4, slash - 4);
    if (!HasPart(ini.parts, section))
        out.push_back(Finding{false, name, "update.ini has no part [" + section + "]; the entry is never installed", "entry-unknown-part"});
    else if (!IsContainedRelativePath(name.substr(slash + 1)))
        out.push_back(Finding{true, name, "would leave the part's target folder", "entry-escapes"});
}

void CheckEntries(const PackageView& view, const ControlFileFacts& ini, std::vector<Finding>& out) {
    for (const std::string& name : view.names) {
        // A name that leaves its folder is reported below, as what it is.
        std::string problem = IsContainedRelativePath(name) ? WindowsNameProblem(name) : std::string();
        if (!problem.empty()) out.push_back(Finding{true, name, problem, "windows-name"});
        if (StartsWithText("add\\", name) || StartsWithText("rep\\", name) || IsPatchEntryName(name)) {
            CheckPartEntry(name, ini, out);
        } else if (IsTopLevelFont(name)) {
            bool named = false;
            for (const FontKey& f : ini.fonts) named = named || SameText(f.fileName, name);
            if (!named) out.push_back(Finding{false, name, "has no FONT key; it is installed under an empty font name", "font-unnamed"});
        } else if (name != kControlFileName && name != kDeletionListName) {
            out.push_back(Finding{false, name, "is neither in an add\\, rep\\ or pat\\ tree nor a top-level font; never used", "unused-file"});
        }
    }
    for (const FontKey& f : ini.fonts) {
        bool held = false;
        for (const std::string& name : view.names) held = held || (IsTopLevelFont(name) && SameText(name, f.fileName));
        if (!held)
            out.push_back(Finding{false, "update.ini:" + std::to_string(f.line),
                                  "FONT names \"" + f.fileName + "\", which is no .TTF file at the package's top level", "font-missing"});
    }
}

void CheckDeletions(const StringList& lines, const ControlFileFacts& ini, std::vector<Finding>& out) {
    for (std::size_t i = 0; i < lines.size(); ++i) {
        const std::string& line = lines[i];
        if (line.empty()) continue;
        std::string where = std::string(kDeletionListName) + ":" + std::to_string(i + 1);
        const std::string* part = nullptr;
        for (const std::string& p : ini.parts)
            if (!part && StartsWithText(p + "\\", line)) part = &p;
        if (!part) {
            out.push_back(Finding{false, where, "\"" + line + "\" belongs to no part; nothing is deleted", "deletion-unknown-part"});
        } else if (!IsContainedRelativePath(line.substr(part->size() + 1))) {
            out.push_back(Finding{true, where, "\"" + line + "\" would delete outside the part's target folder", "deletion-escapes"});
        }
    }
}

// Every finding in UTF-8; files the builder would refuse come first.
std::vector<Finding> Utf8Findings(const std::vector<std::string>& folderErrors, const std::vector<Finding>& findings) {
    std::vector<Finding> all;
    for (const std::string& e : folderErrors) all.push_back(Finding{true, "", e, "unbuildable-file"});
    for (const Finding& f : findings)
        all.push_back(Finding{f.error, Cp1252ToUtf8(f.where), Cp1252ToUtf8(f.text), f.code, ErrorText(f.updaterText)});
    return all;
}

// The findings of a package folder or a package that could be read, in UTF-8.
std::vector<Finding> Findings(PackageView& view) {
    std::vector<Finding> findings = std::move(view.findings);
    if (view.hasControlFile) {
        LintControlFileEncoding(view.controlBytes, findings);
        ControlFileFacts ini = LintControlFile(LinesOf(view.controlBytes));
        findings.insert(findings.end(), ini.findings.begin(), ini.findings.end());
        CheckEntries(view, ini, findings);
        CheckDeletions(view.deletionLines, ini, findings);
        CheckPatchEntries(view.names, view.deletionLines, ini, findings);
    }
    return Utf8Findings(view.folderErrors, findings);
}

}  // namespace

void PrintFindings(std::FILE* to, const char* prefix, const std::vector<Finding>& all) {
    for (const Finding& f : all) {
        std::fprintf(to, "%s%s: ", prefix, f.error ? "error" : "warning");
        if (!f.where.empty()) std::fprintf(to, "%s: ", f.where.c_str());
        std::fprintf(to, "%s", f.text.c_str());
        if (!f.updaterText.empty()) std::fprintf(to, " (the updater's message: \"%s\")", f.updaterText.c_str());
        std::fprintf(to, "\n");
    }
}

int ErrorCount(const std::vector<Finding>& findings) {
    int errors = 0;
    for (const Finding& f : findings) errors += f.error ? 1 : 0;
    return errors;
}

std::vector<Finding> CheckFolder(const std::filesystem::path& dir) {
    PackageView view;
    ViewFolder(dir, view);
    return Findings(view);
}

int CommandCheck(const std::string& target, bool json, const ReleaseBases* bases) {
    PackageView view;
    view.bases = bases && !bases->empty() ? bases : nullptr;
    std::error_code ec;
    if (fs::is_directory(HostPath(target), ec))
        ViewFolder(HostPath(target), view);
    else if (!ViewArchive(target, view)) {
        if (json) PrintOpenErrorJson("target", target, view.openError, view.openUpdaterText);
        return kExitDamaged;
    }
    std::vector<Finding> all = Findings(view);
    std::optional<Signer> signer;
    if (!fs::is_directory(HostPath(target), ec)) signer = PackageSigner(target);
    // A signature that does not match the file refuses the package where its publisher is pinned.
    if (signer && (signer->state == SignerState::Mismatch || signer->state == SignerState::Unreadable))
        all.push_back(Finding{true, "", SignerText(*signer), "signature-mismatch"});
    int errors = ErrorCount(all);
    if (json) {
        PrintCheckJson(target, all, errors, view.bases ? &view.applied : nullptr, signer ? &*signer : nullptr);
    } else {
        if (signer && signer->state != SignerState::Unsigned && signer->state != SignerState::Mismatch &&
            signer->state != SignerState::Unreadable)
            std::printf("%s\n", SignerText(*signer).c_str());
        PrintFindings(stdout, "", all);
        for (const AppliedPatch& p : view.applied)
            if (p.result == "right") std::printf("ok: %s: %s\n", p.name.c_str(), p.text.c_str());
        std::printf("%d error(s), %d warning(s)\n", errors, int(all.size()) - errors);
    }
    return errors > 0 ? kExitDamaged : kExitOk;
}
