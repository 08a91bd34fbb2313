// Fuzz target: the control-file interpreter with the version-check parser and
// the target-folder resolution, then every version check evaluated and every
// result value written, as a run would, against an in-memory registry.
#include <cstdint>
#include <string>

#include "archive/Archive.h"
#include "base/Exception.h"
#include "driver/ControlFile.h"
#include "env/Text.h"
#include "fuzz/FuzzSupport.h"
#include "update/UpdateParts.h"
#include "update/VersionCheck.h"

namespace {

constexpr std::size_t kMaxInput = 1 << 14;

class NoWindow final : public UpdateView {
public:
    void SetUpdateName(const std::string&) override {}
    void SetVersionText(const std::string&) override {}
    void SetCoriText(const std::string&) override {}
    void setFinalCmd(const std::string&) override {}
    void setEMail(const std::string&) override {}
    void setWww(const std::string&) override {}
};

bool FolderForm(const std::string& folder) { return folder.empty() || folder.back() == '\\'; }

void Evaluate(const TVChkRec& record) {
    int result = EvaluateVChk(record);
    bool reversed = (!record.Earliest.empty() || !record.Latest.empty()) &&
                    CompareVersions(record.Latest, record.Earliest) < 0;
    Require(result == kVChkPassed || result == kVChkUnknown || result == kVChkTooNew || result == kVChkTooOld ||
                result == kVChkReversed,
            "a version check gives one of its results");
    Require((result == kVChkReversed) == reversed, "only a reversed range is reported as reversed");
}

void CheckPart(const TUpdatePart& part) {
    Require(part.SectionPrefix == part.SectionName + "\\", "the section prefix is the name and a backslash");
    Require(FolderForm(part.TargetFolder) && FolderForm(part.AltTargetFolder), "target folders end with a backslash");
    Evaluate(part.VChk);
    TUpdateParts::WriteResultValue(part.VResult);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size > kMaxInput) return 0;
    FuzzRegistry registry;
    const std::string text = AsText(data, size);
    StringList lines = SplitLines(text.data(), text.size());
    TUpdateParts parts;
    NoWindow window;
    try {
        InterpretControlFile(lines, parts, window);
    } catch (const Exception&) {
    }
    for (std::size_t i = 0; i < parts.Count(); ++i) CheckPart(parts[i]);
    Evaluate(parts.MainVChk);
    TUpdateParts::WriteResultValue(parts.VResult);

    // The whole input as one VCHK value and as one TDIR value.
    TVChkRec record;
    try {
        ParseVChk(text, record);
        Evaluate(record);
    } catch (const Exception&) {
    }
    TUpdatePart& part = parts.Add("fz");
    part.SetTDir(text);
    Require(FolderForm(part.TargetFolder), "a resolved folder ends with a backslash");
    return 0;
}
