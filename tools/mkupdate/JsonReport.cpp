#include "tools/mkupdate/JsonReport.h"

#include "base/Cp1252.h"
#include "driver/ControlFile.h"

#include <cstdio>

#include <nlohmann/json.hpp>

namespace {

void Print(const nlohmann::json& document) {
    // Texts that are no valid UTF-8 are written with replacement characters rather than refused.
    std::string text = document.dump(2, ' ', false, nlohmann::json::error_handler_t::replace);
    std::fwrite(text.data(), 1, text.size(), stdout);
    std::fputc('\n', stdout);
}


nlohmann::json SignerJson(const Signer& signer) {
    if (signer.state == SignerState::Unsigned) return nullptr;
    return {{"subject", Cp1252ToUtf8(signer.subject)},
            {"thumbprint", signer.thumbprint},
            {"signature_matches", signer.state == SignerState::Matches}};
}

}  // namespace

void PrintListJson(const std::string& file, const std::vector<ListedEntry>& entries, const Signer* signer,
                   const ControlFileFacts* control) {
    nlohmann::json list = nlohmann::json::array();
    for (const ListedEntry& e : entries) {
        nlohmann::json entry = {{"name", e.name}, {"size", e.size}, {"stored", e.stored}, {"segments", e.segments},
                                {"date", e.date}, {"kind", e.patch ? "patch" : "file"}};
        if (e.patch) entry["patch"] = {{"from_size", e.patchFrom}, {"to_size", e.patchTo}};
        list.push_back(entry);
    }
    nlohmann::json document = {{"file", file}, {"entries", list}};
    if (signer) document["signer"] = SignerJson(*signer);
    if (control && !control->checkCmd.empty()) {
        document["check_cmd"] = Cp1252ToUtf8(control->checkCmd);
        document["check_wait"] = control->checkWait ? control->checkWait : kDefaultCheckWait;
    }
    if (control && control->runRollback) document["rollback"] = true;
    Print(document);
}

void PrintCheckJson(const std::string& target, const std::vector<Finding>& findings, int errors,
                    const std::vector<AppliedPatch>* patches, const Signer* signer) {
    nlohmann::json list = nlohmann::json::array();
    for (const Finding& f : findings) {
        list.push_back({{"severity", f.error ? "error" : "warning"}, {"code", f.code}, {"where", f.where},
                        {"text", f.text}});
        if (!f.updaterText.empty()) list.back()["updater_text"] = f.updaterText;
    }
    nlohmann::json document = {
        {"target", target}, {"errors", errors}, {"warnings", int(findings.size()) - errors}, {"findings", list}};
    if (patches) {
        document["patches"] = nlohmann::json::array();
        for (const AppliedPatch& p : *patches)
            document["patches"].push_back({{"name", p.name}, {"result", p.result}, {"text", p.text}});
    }
    if (signer) document["signer"] = SignerJson(*signer);
    Print(document);
}

void PrintOpenErrorJson(const char* subjectKey, const std::string& subject, const std::string& error,
                        const std::string& updaterText) {
    nlohmann::json document = {{subjectKey, subject}, {"error", error}};
    if (!updaterText.empty()) document["updater_text"] = updaterText;
    Print(document);
}
