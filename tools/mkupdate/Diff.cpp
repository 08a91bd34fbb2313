// The package folder of an update from one release of an application to the
// next: changed and new files under add\<section>\ (with --patch, changed
// files as patches under pat\<section>\ where that pays), fonts at the top
// level, todel.txt for the files the new release no longer has, and update.ini.
#include "tools/mkupdate/Diff.h"

#include <cstdio>
#include <fstream>
#include <optional>
#include <system_error>

#include "base/Cp1252.h"
#include "driver/ControlFile.h"
#include "env/Text.h"
#include "tools/mkupdate/Commands.h"
#include "tools/mkupdate/DiffPatch.h"
#include "tools/mkupdate/DiffPlan.h"
#include "tools/mkupdate/FontName.h"
#include "tools/mkupdate/Host.h"
#include "tools/mkupdate/Options.h"
#include "tools/mkupdate/SuffixSort.h"
#include "update/VersionCheck.h"

namespace fs = std::filesystem;

namespace {

struct DiffOptions {
    std::string section, project, from, fromLatest, to;  // code page 1252
    std::optional<std::string> date, zone;
    bool touch = false;
    bool rollback = false;  // the part is applied all or nothing (ROLLBACK=1)
    bool rebootOk = false;  // held files are replaced at the next start of Windows (REBOOTOK=1)
    bool patch = false;     // changed files as patches where they are clearly smaller
    std::string checkCmd, checkWait;  // the check after the update (CHECKCMD, CHECKWAIT); code page 1252
    fs::path oldDir, newDir, out;
};

// A text for update.ini in code page 1252, or empty with `error` set.
std::string IniText(const std::string& option, const std::string& utf8, const char* forbidden, std::string& error) {
    bool ok = true;
    std::string text = Utf8ToCp1252(utf8, &ok);
    for (unsigned char c : text) ok = ok && c >= 32 && std::string(forbidden).find(char(c)) == std::string::npos;
    if (text.empty() || text.front() == ' ' || text.back() == ' ') ok = false;
    if (!ok)
        error = option + " \"" + utf8 + "\": not empty, no blank at either end, code page 1252" +
                (*forbidden ? std::string(", none of ") + forbidden : std::string());
    return ok ? text : std::string();
}

int CheckTexts(DiffOptions& o, const std::string& fromText) {
    std::string error;
    if (o.section.empty() || (o.section = IniText("--section", o.section, "\\[]<>:\"|?*", error)).empty())
        return UsageError(error.empty() ? "missing --section NAME" : error);
    if (SameText(o.section, "CheckRun")) return UsageError("--section CheckRun names the list of running programs");
    if (o.project.empty()) o.project = Cp1252ToUtf8(o.section);
    if ((o.project = IniText("--project", o.project, "\\=%", error)).empty()) return UsageError(error);
    if (!fromText.empty()) {
        std::size_t dots = fromText.find("..");
        std::string latest = dots == std::string::npos ? fromText : fromText.substr(dots + 2);
        if ((o.from = IniText("--from", fromText.substr(0, dots), "\"'<=", error)).empty() ||
            (o.fromLatest = IniText("--from", latest, "\"'<=", error)).empty())
            return UsageError(error);
        if (CompareVersions(o.fromLatest, o.from) < 0)
            return UsageError("--from " + fromText + ": the latest version sorts before the earliest (versions compare as text)");
    }
    if (!o.to.empty() && (o.to = IniText("--to", o.to, "\"'<=", error)).empty()) return UsageError(error);
    if (!o.checkCmd.empty() && (o.checkCmd = IniText("--check-cmd", o.checkCmd, "", error)).empty())
        return UsageError(error);
    bool exact = false;
    if (!o.checkWait.empty() && (CheckWaitSeconds(o.checkWait, &exact), !exact))
        return UsageError("--check-wait " + o.checkWait + ": a whole number of seconds from 1 to 3600");
    // The version written must leave the range, or a second run applies the update again.
    if (!o.to.empty() && !o.from.empty() && CompareVersions(o.to, o.fromLatest) <= 0)
        return UsageError("--to " + Cp1252ToUtf8(o.to) + " does not sort after " + Cp1252ToUtf8(o.fromLatest) +
                          ", the latest version of --from (the updater compares versions as text, byte by byte): a "
                          "second run would apply the update again instead of ending with 5; give every place the "
                          "same number of digits (4.09, 4.10)");
    return kExitOk;
}

void Warn(const std::string& text) { std::fprintf(stderr, "mkupdate: warning: %s\n", text.c_str()); }

// What the versions given make of a second run and of deployment tools.
void WarnOfVersions(const DiffOptions& o) {
    if (o.to.empty())
        Warn("without --to the package writes no version (no VRESULT): a second run applies it again instead of "
             "ending with 5, and a detection rule on the version never matches");
    if (o.from.empty())
        Warn("without --from every installed version receives this update, and a second run applies it again "
             "instead of ending with 5");
    if (o.patch && o.from.empty())
        Warn("--patch without --from: a patch installs only over OLD's exact file, so a machine with another "
             "version stops before any change; give --from the version whose files OLD holds");
    if (o.patch && o.from != o.fromLatest)
        Warn("--patch with the range --from " + Cp1252ToUtf8(o.from) + ".." + Cp1252ToUtf8(o.fromLatest) +
             ": a patch installs only over OLD's exact file, so a machine with another version of the range stops "
             "before any change; give --from the one version whose files OLD holds, or leave out --patch");
}

int ParseOptions(const std::vector<std::string>& args, DiffOptions& o) {
    std::vector<std::string> positional;
    std::string from;
    for (std::size_t i = 0; i < args.size(); ++i) {
        std::string v;
        if (TakeValue(args, i, "--section", v)) o.section = v;
        else if (TakeValue(args, i, "--project", v)) o.project = v;
        else if (TakeValue(args, i, "--from", v)) from = v;
        else if (TakeValue(args, i, "--to", v)) o.to = v;
        else if (TakeValue(args, i, "--date", v)) o.date = v;
        else if (TakeValue(args, i, "--tz", v)) o.zone = v;
        else if (TakeValue(args, i, "--check-cmd", v)) o.checkCmd = v.empty() ? " " : v;
        else if (TakeValue(args, i, "--check-wait", v)) o.checkWait = v.empty() ? " " : v;
        else if (TakeValue(args, i, "-o", v)) o.out = HostPath(v);
        else if (args[i] == "--touch") o.touch = true;
        else if (args[i] == "--rollback") o.rollback = true;
        else if (args[i] == "--rebootok") o.rebootOk = true;
        else if (args[i] == "--patch") o.patch = true;
        else if (args[i].size() > 1 && args[i][0] == '-')
            return UnknownOption(args[i], {"--section", "--project", "--from", "--to", "--date", "--tz", "--check-cmd",
                                           "--check-wait", "-o"});
        else positional.push_back(args[i]);
    }
    if (int rc = OperandError(positional, {"OLD", "NEW"})) return rc;
    if (o.rollback && o.rebootOk) return UsageError("--rollback and --rebootok exclude each other");
    if (!o.checkCmd.empty() && o.rebootOk)
        return UsageError("--check-cmd and --rebootok exclude each other: a run with a check is undone as a whole");
    if (!o.checkWait.empty() && o.checkCmd.empty()) return UsageError("--check-wait needs --check-cmd");
    if (o.out.empty()) return UsageError("missing -o DIR");
    if (o.patch && !SuffixSortAvailable())
        return UsageError("--patch: this build of mkupdate makes no patches (it has no suffix sorting library); "
                          "make the package with the Linux tool");
    o.oldDir = HostPath(positional[0]);
    o.newDir = HostPath(positional[1]);
    return CheckTexts(o, from);
}

bool Overlap(const fs::path& a, const fs::path& b) {
    std::error_code ec;
    fs::path ca = fs::weakly_canonical(a, ec), cb = fs::weakly_canonical(b, ec);
    auto inside = [](const fs::path& x, const fs::path& y) {
        fs::path rel = x.lexically_relative(y);
        return !rel.empty() && *rel.begin() != "..";
    };
    return inside(ca, cb) || inside(cb, ca);
}

fs::path PackagePath(const DiffOptions& o, const PlannedFile& p) {
    if (p.font) return o.out / HostPath(p.file->shown);
    return o.out / "add" / HostPath(Cp1252ToUtf8(o.section)) / HostPath(p.file->shown);
}

fs::path PatchPath(const DiffOptions& o, const PlannedFile& p) {
    return o.out / "pat" / HostPath(Cp1252ToUtf8(o.section)) / HostPath(p.file->shown);
}

// What diff writes must not be there yet: it would mix with an earlier run.
int CheckOutput(const DiffOptions& o, const DiffPlan& plan) {
    if (Overlap(o.out, o.oldDir) || Overlap(o.out, o.newDir))
        return Failure(PathText(o.out) + ": the package folder must lie outside OLD and NEW");
    std::vector<fs::path> taken = {o.out / "add" / HostPath(Cp1252ToUtf8(o.section)), o.out / "todel.txt"};
    if (o.patch) taken.push_back(o.out / "pat" / HostPath(Cp1252ToUtf8(o.section)));
    for (const PlannedFile& p : plan.files)
        if (p.font) taken.push_back(PackagePath(o, p));
    int found = 0;
    for (const fs::path& t : taken) {
        std::error_code ec;
        if (!fs::exists(t, ec)) continue;
        std::fprintf(stderr, "mkupdate: %s: already there; diff writes it itself\n", PathText(t).c_str());
        ++found;
    }
    for (const PlannedFile& p : plan.files) {
        std::string problem = HostPathProblem(PackagePath(o, p));
        if (problem.empty()) continue;
        std::fprintf(stderr, "mkupdate: %s: %s\n", PathText(PackagePath(o, p)).c_str(), problem.c_str());
        ++found;
    }
    return found ? Failure("nothing written: " + std::to_string(found) + " problem(s) with the package folder")
                 : kExitOk;
}

// Stale files get the build date when --touch allows it; false when that date does not win either.
bool TouchStale(const DiffOptions& o, const DiffPlan& plan, std::int32_t buildStamp) {
    int stale = 0, refused = 0;
    for (const PlannedFile& p : plan.files) {
        if (!p.stale) continue;
        ++stale;
        if (!o.touch) {
            std::fprintf(stderr, "mkupdate: %s: changed, but its stamp is not later than OLD's copy; "
                                 "the updater would keep the old file\n", p.file->shown.c_str());
        } else if (!StampWins(buildStamp, p.oldStamp, p.font)) {
            std::fprintf(stderr, "mkupdate: %s: the build date is not later than OLD's copy either\n",
                         p.file->shown.c_str());
            ++refused;
        }
    }
    if (stale == 0) return true;
    if (!o.touch) {
        std::fprintf(stderr, "mkupdate: nothing written: %d changed file(s) would never be installed; give them a "
                             "later modification time or use --touch\n", stale);
        return false;
    }
    if (refused) std::fprintf(stderr, "mkupdate: nothing written; give a later --date\n");
    return refused == 0;
}

bool WriteLines(const fs::path& file, const std::vector<std::string>& lines) {
    std::ofstream out(file, std::ios::binary | std::ios::trunc);
    for (const std::string& line : lines) out << line << "\r\n";
    out.close();
    return bool(out);
}

std::string VersionCheckLine(const DiffOptions& o, const std::string& verRef) {
    return "VChk=\"" + o.from + "\"<=" + verRef + "<=\"" + o.fromLatest + "\"";
}

std::vector<std::string> ControlFileLines(const DiffOptions& o, const std::vector<std::string>& fontLines) {
    std::string key = "R\\Tarnix.exe\\Projects\\" + o.project;
    std::vector<std::string> lines = {"; " + o.project + ": update made by mkupdate diff", "P=" + o.project};
    if (!o.to.empty()) lines.push_back("V=" + o.to);
    if (!o.from.empty()) lines.push_back(VersionCheckLine(o, key + "\\Ver\\"));
    if (!o.to.empty()) lines.push_back("VResult=" + key + "\\Ver\\=" + o.to);
    lines.insert(lines.end(), fontLines.begin(), fontLines.end());
    if (!o.checkCmd.empty()) lines.push_back("CheckCmd=" + o.checkCmd);
    if (!o.checkWait.empty()) lines.push_back("CheckWait=" + o.checkWait);
    lines.insert(lines.end(), {"", "[" + o.section + "]", "N=" + o.section, "TDIR=§" + key + "\\Dir\\"});
    if (!o.from.empty()) lines.push_back(VersionCheckLine(o, key + "\\Ver\\"));
    if (o.rollback) lines.push_back("ROLLBACK=1");
    if (o.rebootOk) lines.push_back("REBOOTOK=1");
    return lines;
}

// FONT keys of the fonts the package carries: their full names from the files.
std::vector<std::string> FontLines(const DiffPlan& plan) {
    std::vector<std::string> lines;
    for (const PlannedFile& p : plan.files) {
        if (!p.font) continue;
        std::string name = TrueTypeFullName(p.file->path);
        if (name.empty()) {
            name = p.file->name.substr(0, p.file->name.size() - 4);
            std::fprintf(stderr, "mkupdate: %s: no full font name found; registered as \"%s\"\n",
                         p.file->shown.c_str(), Cp1252ToUtf8(name).c_str());
        }
        lines.push_back("FONT=" + p.file->name + "," + name);
    }
    return lines;
}

// Copies a file of NEW and gives the copy the modification time `modified`.
bool CopyWithTime(const fs::path& from, const fs::path& to, std::int64_t modified) {
    std::error_code ec;
    fs::create_directories(to.parent_path(), ec);
    if (!ec) fs::copy_file(from, to, fs::copy_options::overwrite_existing, ec);
    if (ec || !SetModificationTime(to, modified)) {
        std::fprintf(stderr, "mkupdate: %s: %s\n", PathText(to).c_str(), ec ? ec.message().c_str() : "time not set");
        return false;
    }
    return true;
}

// Writes `bytes` to a new file of the package and gives it the modification time `modified`.
bool WriteFileWithTime(const fs::path& to, const std::string& bytes, std::int64_t modified) {
    std::error_code ec;
    fs::create_directories(to.parent_path(), ec);
    std::ofstream out(to, std::ios::binary | std::ios::trunc);
    out << bytes;
    out.close();
    if (!out || !SetModificationTime(to, modified)) {
        std::fprintf(stderr, "mkupdate: %s: not written\n", PathText(to).c_str());
        return false;
    }
    return true;
}

// How a changed file went into the package with --patch.
enum class PatchResult { WholeFile, Patch, Failed };

// Writes the patch of a changed file when it pays.
PatchResult WritePatch(const DiffOptions& o, const PlannedFile& p, std::int64_t modified) {
    if (!o.patch || !p.changed || p.font) return PatchResult::WholeFile;
    PatchDecision d = DecidePatch(p.oldFile->path, p.file->path);
    if (!d.error.empty()) {
        std::fprintf(stderr, "mkupdate: %s: %s\n", p.file->shown.c_str(), d.error.c_str());
        return PatchResult::Failed;
    }
    if (!d.warning.empty()) {
        std::fprintf(stderr, "mkupdate: warning: %s: %s; the file goes whole\n", p.file->shown.c_str(), d.warning.c_str());
        return PatchResult::WholeFile;
    }
    std::printf("%s: %s, %llu bytes as patch, %llu whole\n", p.file->shown.c_str(),
                d.usePatch ? "patch" : "whole file", (unsigned long long)d.patchSize, (unsigned long long)d.wholeSize);
    if (!d.usePatch) return PatchResult::WholeFile;
    return WriteFileWithTime(PatchPath(o, p), d.patch, modified) ? PatchResult::Patch : PatchResult::Failed;
}

int WritePackage(const DiffOptions& o, const DiffPlan& plan, std::int64_t buildEpoch) {
    int failed = 0, patched = 0;
    for (const PlannedFile& p : plan.files) {
        bool touch = p.stale && o.touch;
        std::int64_t modified = touch ? buildEpoch : p.file->modified;
        PatchResult patch = WritePatch(o, p, modified);
        patched += patch == PatchResult::Patch ? 1 : 0;
        if (patch == PatchResult::WholeFile) failed += CopyWithTime(p.file->path, PackagePath(o, p), modified) ? 0 : 1;
        failed += patch == PatchResult::Failed ? 1 : 0;
        if (touch) std::printf("touched: %s gets the build date\n", p.file->shown.c_str());
    }
    if (!WriteLines(o.out / "todel.txt", plan.deletions)) ++failed;
    std::vector<std::string> fontLines = FontLines(plan);
    std::error_code ec;
    fs::path ini = o.out / "update.ini";
    bool kept = fs::exists(ini, ec);
    if (kept) {
        for (const std::string& line : fontLines)
            std::fprintf(stderr, "mkupdate: update.ini kept; it needs the line %s\n", Cp1252ToUtf8(line).c_str());
    } else if (!WriteLines(ini, ControlFileLines(o, fontLines))) {
        ++failed;
    }
    int added = 0, changed = 0, fonts = 0;
    for (const PlannedFile& p : plan.files) (p.font ? fonts : p.changed ? changed : added) += 1;
    std::printf("%s: %d new, %d changed, %zu deleted, %d font(s); update.ini %s", PathText(o.out).c_str(), added,
                changed, plan.deletions.size(), fonts, kept ? "kept" : "written");
    if (o.patch) std::printf("; %d changed file(s) as patches", patched);
    std::printf("\n");
    return failed ? Failure(std::to_string(failed) + " file(s) not written") : kExitOk;
}

}  // namespace

int CommandDiff(const std::vector<std::string>& args) {
    DiffOptions o;
    if (int rc = ParseOptions(args, o)) return rc;
    WarnOfVersions(o);
    StampPolicy fixed, zone;
    std::int64_t buildEpoch = 0;
    if (int rc = ChooseStamps(o.date, o.zone, fixed, buildEpoch)) return rc;
    std::int32_t buildStamp = 0;
    std::string error;
    if (!zone.stampOf(buildEpoch, buildStamp, error)) return UsageError("the build date: " + error);

    ReleaseTree oldTree = ScanReleaseTree(o.oldDir), newTree = ScanReleaseTree(o.newDir);
    std::vector<std::string> problems = oldTree.errors;
    problems.insert(problems.end(), newTree.errors.begin(), newTree.errors.end());
    DiffPlan plan = PlanDiff(oldTree, newTree, o.section, zone);
    problems.insert(problems.end(), plan.problems.begin(), plan.problems.end());
    for (const std::string& p : problems) std::fprintf(stderr, "mkupdate: %s\n", p.c_str());
    if (!problems.empty()) return Failure("nothing written: " + std::to_string(problems.size()) + " problem(s)");
    for (const std::string& n : plan.notes) std::fprintf(stderr, "mkupdate: note: %s\n", n.c_str());
    if (!TouchStale(o, plan, buildStamp)) return kExitDamaged;
    if (int rc = CheckOutput(o, plan)) return rc;
    return WritePackage(o, plan, buildEpoch);
}
