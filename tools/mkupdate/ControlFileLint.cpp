#include "tools/mkupdate/ControlFileLint.h"

#include <set>

#include "base/Exception.h"
#include "driver/ControlFile.h"
#include "env/Text.h"
#include "update/VersionCheck.h"

namespace {

const std::set<std::string> kMainKeys = {"P",       "V",    "FINALCMD", "CORI",     "EMAIL",     "WWW",
                                         "VCHK",    "VRESULT", "FONT", "CHECKCMD", "CHECKWAIT", "ROLLBACK"};
const std::set<std::string> kPartKeys = {"N", "TDIR", "VCHK", "VRESULT", "ROLLBACK", "REBOOTOK"};

class Linter {
public:
    ControlFileFacts run(const StringList& lines) {
        for (std::size_t i = 0; i < lines.size(); ++i) {
            number_ = int(i) + 1;
            line(lines[i]);
        }
        finishPart();
        checkResultInRange();
        checkTransaction();
        if (mainKeys_.count("P") == 0) warn("no-heading", 0, "no P key: the window keeps its initial heading");
        return std::move(facts_);
    }

private:
    void line(const std::string& text) {
        if (text.empty() || text[0] == ';') return;
        if (text[0] == '[') return header(text);
        if (checkRun_) return checkRunLine(text);
        std::size_t equals = text.find('=');
        if (equals == std::string::npos) return lineWithoutKey(text);
        std::string rawKey = text.substr(0, equals), key = rawKey;
        TrimBlanks(key);
        UpperCaseText(key);
        std::string value = text.substr(equals + 1);
        if (rawKey.find('\t') != std::string::npos)
            return warn("tab-before-equals", number_, "a tab before \"=\" makes the key unknown; the line is ignored");
        if (inPart_) return partKey(key, value);
        mainKey(key, value);
    }

    void header(const std::string& text) {
        std::string name = text.size() >= 2 ? text.substr(1, text.size() - 2) : std::string();
        if (text.back() != ']') warn("header-bracket", number_, "the header does not end in \"]\"; the part is named \"" + name + "\"");
        if (SameText(name, "CheckRun")) {
            checkRun_ = true;
            return;
        }
        finishPart();
        checkRun_ = false;
        inPart_ = true;
        partKeys_.clear();
        rollback_ = rebootOk_ = false;
        partName_ = name;
        if (name.empty()) warn("empty-part-name", number_, "a part with an empty name");
        for (const std::string& other : facts_.parts)
            if (SameText(other, name)) warn("duplicate-part", number_, "part [" + name + "] appears twice; both take the same entries");
        facts_.parts.push_back(name);
        facts_.partFacts.push_back(PartFacts{});
    }

    void checkRunLine(const std::string& text) {
        if (text.find('=') != std::string::npos)
            warn("checkrun-key", number_, "inside [CheckRun] this line names a file to test, it sets no key");
    }

    void lineWithoutKey(const std::string& text) {
        std::size_t first = text.find_first_not_of(' ');
        if (first == std::string::npos) return;
        if (text[first] == '[') return warn("indented-header", number_, "an indented header is no header; the line is ignored");
        if (text[first] == ';') return;
        warn("no-equals", number_, "a line without \"=\" is ignored");
    }

    void mainKey(const std::string& key, const std::string& value) {
        if (kMainKeys.count(key) == 0) {
            if (kPartKeys.count(key)) return warn("part-key-in-main", number_, key + " belongs in a part section; the main section ignores it");
            return warn("unknown-key", number_, "unknown key \"" + key + "\" is ignored");
        }
        if (key != "FONT" && !mainKeys_.insert(key).second) warn("duplicate-key", number_, key + " given twice; the later value counts");
        remark(key, value);
        if (key == "VCHK") versionCheck(value);
        if (key == "VRESULT") resultValue(value);
        if (key == "VCHK") mainCheck_ = value;
        if (key == "VCHK") facts_.mainVersionChecked = true;
        if (key == "VRESULT") mainResult_ = {value, number_};
        if (key == "FONT") font(value);
        if (key == "CHECKCMD") facts_.checkCmd = value;
        if (key == "CHECKWAIT") checkWait(value);
        if (key == "ROLLBACK") facts_.runRollback = rollbackValue(value, "the run's parts are not undone together");
    }

    void checkWait(const std::string& value) {
        bool exact = false;
        facts_.checkWait = CheckWaitSeconds(value, &exact);
        if (!exact)
            warn("checkwait-value", number_, "CHECKWAIT=\"" + value + "\" is not a whole number from 1 to 3600: the "
                                  "updater gives the check " + std::to_string(facts_.checkWait) + " second(s)");
    }

    // True for "1"; another value is warned of, `unset` saying what it leaves undone.
    bool rollbackValue(const std::string& value, const char* unset) {
        if (value != "1") warn("rollback-value", number_, "ROLLBACK=\"" + value + "\" is not 1: " + unset + " when one fails");
        return value == "1";
    }

    void partKey(const std::string& key, const std::string& value) {
        if (kPartKeys.count(key) == 0) {
            if (kMainKeys.count(key))
                return warn("main-key-in-part", number_, key + " is a main-section key; inside part [" + partName_ + "] it is ignored");
            return warn("unknown-key", number_, "unknown key \"" + key + "\" is ignored");
        }
        if (!partKeys_.insert(key).second) warn("duplicate-key", number_, key + " given twice in [" + partName_ + "]; the later value counts");
        remark(key, value);
        if (key == "VCHK") versionCheck(value);
        if (key == "VRESULT") resultValue(value);
        if (key == "TDIR" && value.empty()) warn("empty-tdir", number_, "an empty TDIR names no folder");
        if (key == "REBOOTOK" && value != "1")
            warn("rebootok-value", number_,
                 "REBOOTOK=\"" + value + "\" is not 1: a file held open makes the part fail instead of being "
                 "replaced at the next start of Windows");
        if (key == "TDIR") facts_.partFacts.back().target = value;
        if (key == "VCHK") facts_.partFacts.back().versionChecked = true;
        if (key == "ROLLBACK") rollback_ = rollbackValue(value, "the part's changes are not undone");
        if (key == "REBOOTOK") rebootOk_ = value == "1";
        if (key == "REBOOTOK") rebootOkLine_ = number_;
    }

    void finishPart() {
        if (inPart_ && rebootOk_) rebootOkParts_.push_back({partName_, rebootOkLine_});
        if (inPart_ && rollback_ && rebootOk_)
            error("rebootok-with-rollback", 0, "part [" + partName_ + "] has ROLLBACK=1 and REBOOTOK=1: a change "
                                               "left to the next start of Windows cannot be undone; keep one of them");
        if (inPart_ && partKeys_.count("TDIR") == 0)
            error("no-tdir", 0, "part [" + partName_ + "] has no TDIR: the updater finds its application not "
                                "installed and stops; add a TDIR line with the target folder");
    }

    // A run that is all or nothing cannot leave a change to the next start of Windows.
    void checkTransaction() {
        if (facts_.checkWait && facts_.checkCmd.empty())
            warn("checkwait-alone", 0, "CHECKWAIT without CHECKCMD: there is no check to wait for");
        if (facts_.checkCmd.empty() && !facts_.runRollback) return;
        const char* why = facts_.checkCmd.empty() ? "the main section has ROLLBACK=1" : "the package has a CHECKCMD";
        for (const auto& [name, line] : rebootOkParts_)
            error("rebootok-in-transaction", line,
                  "part [" + name + "] has REBOOTOK=1, but " + why + ", so the whole run is undone when a part or "
                  "the check fails, and a change left to the next start of Windows cannot be undone; remove REBOOTOK=1");
    }

    void versionCheck(const std::string& value) {
        TVChkRec check;
        try {
            ParseVChk(value, check);
        } catch (const std::exception& e) {
            return error("vchk-syntax", number_,
                         "VCHK is not of the form earliest<=source<=latest (the updater stops reading here and "
                         "cannot start)", e.what());
        }
        if (check.Earliest.empty() && check.Latest.empty())
            return warn("vchk-empty", number_, "VCHK without versions checks nothing");
        if (CompareVersions(check.Latest, check.Earliest) < 0)
            error("vchk-reversed", number_, "latest version \"" + check.Latest + "\" sorts before earliest \"" + check.Earliest +
                               "\" (versions compare as text): the updater refuses the range and stops",
                  "früheste Version muss kleiner als späteste sein!");
        versionText("earliest", check.Earliest);
        versionText("latest", check.Latest);
        char first = check.Source.empty() ? 'x' : check.Source[0];
        if (first == ' ' || first == '"' || first == '\'')
            warn("vchk-source", number_, "the source of VCHK begins with \"" + std::string(1, first) +
                              "\", which is taken as written and names no registry value");
    }

    // Blanks, quotes and a stray "=" stay in a version and take part in the comparison.
    void versionText(const char* which, const std::string& version) {
        if (version.empty()) return;
        char first = version[0], last = version.back();
        if (first == ' ' || last == ' ' || first == '"' || first == '\'' || first == '=')
            warn("version-blanks", number_, std::string("the ") + which + " version \"" + version +
                              "\" keeps its blanks, quotes or \"=\", and they are compared as text");
    }

    // ";" starts a remark only at the beginning of a line: after a value, blanks
    // and remark become part of it. Fatal where the value names a folder, a
    // registry value or a version.
    void remark(const std::string& key, const std::string& value) {
        std::size_t semicolon = value.find(';');
        if (semicolon == std::string::npos || semicolon == 0) return;
        if (value[semicolon - 1] != ' ' && value[semicolon - 1] != '\t') return;
        std::string text = "the value ends in \"" + value.substr(semicolon - 1) +
                           "\", which is no remark but part of the value; put remarks on lines of their own";
        if (key == "TDIR" || key == "VCHK" || key == "VRESULT") return error("value-remark", number_, text);
        warn("value-remark", number_, text);
    }

    // The main VRESULT writing a version that the main VCHK still accepts: a
    // second run applies the update again instead of ending with 5.
    void checkResultInRange() {
        TVChkRec check;
        std::size_t equals = mainResult_.first.find('=');
        if (mainCheck_.empty() || equals == std::string::npos) return;
        try {
            ParseVChk(mainCheck_, check);
        } catch (const std::exception&) {
            return;
        }
        std::string written = mainResult_.first.substr(equals + 1);
        if (!SameText(mainResult_.first.substr(0, equals), check.Source) || !VersionInRange(written, check)) return;
        warn("result-in-range", mainResult_.second,
             "VRESULT writes \"" + written + "\", which the main VCHK range \"" + check.Earliest + "\" to \"" +
                 check.Latest + "\" still accepts (versions compare as text): a second run applies the update "
                 "again instead of ending with 5 (nothing to do); let the latest version sort before it");
    }

    void resultValue(const std::string& value) {
        if (value.find('=') == std::string::npos) warn("vresult-no-equals", number_, "VRESULT without \"=\" writes nothing");
    }

    void font(const std::string& value) {
        std::size_t comma = value.find(',');
        if (comma == std::string::npos) return warn("font-no-comma", number_, "FONT without \",\" names no font file");
        facts_.fonts.push_back(FontKey{value.substr(0, comma), number_});
    }

    void warn(const char* code, int line, const std::string& text) { add(false, code, line, text); }
    void error(const char* code, int line, const std::string& text, const std::string& updaterText = "") {
        add(true, code, line, text, updaterText);
    }
    void add(bool isError, const char* code, int line, const std::string& text, const std::string& updaterText = "") {
        std::string where = line > 0 ? "update.ini:" + std::to_string(line) : "update.ini";
        facts_.findings.push_back(Finding{isError, where, text, code, updaterText});
    }

    ControlFileFacts facts_;
    int number_ = 0;
    bool checkRun_ = false, inPart_ = false;
    bool rollback_ = false, rebootOk_ = false;  // of the current part
    std::string partName_;
    int rebootOkLine_ = 0;  // of the current part
    std::vector<std::pair<std::string, int>> rebootOkParts_;  // parts with REBOOTOK=1 and its line
    std::set<std::string> mainKeys_, partKeys_;
    std::string mainCheck_;                  // the main VCHK's value
    std::pair<std::string, int> mainResult_;  // the main VRESULT's value and line
};

// The length of a UTF-8 sequence of two to four bytes at `at`, or 0.
std::size_t Utf8SequenceAt(const std::string& bytes, std::size_t at) {
    unsigned char c = static_cast<unsigned char>(bytes[at]);
    std::size_t length = c >= 0xC2 && c <= 0xDF ? 2 : c >= 0xE0 && c <= 0xEF ? 3 : c >= 0xF0 && c <= 0xF4 ? 4 : 0;
    if (length == 0 || at + length > bytes.size()) return 0;
    for (std::size_t k = 1; k < length; ++k)
        if ((static_cast<unsigned char>(bytes[at + k]) & 0xC0) != 0x80) return 0;
    return length;
}

}  // namespace

bool VersionInRange(const std::string& version, const TVChkRec& check) {
    return (check.Earliest.empty() || CompareVersions(check.Earliest, version) <= 0) &&
           (check.Latest.empty() || CompareVersions(version, check.Latest) <= 0);
}

ControlFileFacts LintControlFile(const StringList& lines) { return Linter().run(lines); }

void LintControlFileEncoding(const std::string& bytes, std::vector<Finding>& findings) {
    const std::string convert = "; save it in code page 1252 (e.g. iconv -f UTF-8 -t CP1252)";
    if (bytes.rfind("\xEF\xBB\xBF", 0) == 0) {
        findings.push_back(Finding{true, "update.ini",
                                   "starts with a UTF-8 byte order mark, which becomes part of the first line" + convert,
                                   "utf8-bom"});
        return;
    }
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        if (Utf8SequenceAt(bytes, i) == 0) continue;
        findings.push_back(Finding{true, "update.ini",
                                   "is UTF-8 text; the updater reads code page 1252, so umlauts, \"§\" and folder "
                                   "names come out wrong" + convert,
                                   "utf8-text"});
        return;
    }
}
