#include "driver/Publisher.h"

#include "platform/Registry.h"

namespace {

bool IsThumbprint(const std::string& item) {
    if (item.size() != 64) return false;
    for (char c : item)
        if (!((c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F'))) return false;
    return true;
}

bool SameThumbprint(const std::string& a, const std::string& b) {
    for (std::size_t i = 0; i < a.size(); ++i)
        if ((a[i] | 0x20) != (b[i] | 0x20)) return false;
    return a.size() == b.size();
}

// Whether `thumbprint` is among the pins; every item that is no thumbprint is
// named in `invalid`, with blanks around items left out.
bool Pinned(const std::string& pins, const std::string& thumbprint, std::string& invalid) {
    bool found = false;
    for (std::size_t from = 0; from <= pins.size();) {
        std::size_t end = pins.find(';', from);
        if (end == std::string::npos) end = pins.size();
        std::string item = pins.substr(from, end - from);
        item.erase(0, item.find_first_not_of(' '));
        while (!item.empty() && item.back() == ' ') item.pop_back();
        if (!IsThumbprint(item)) {
            if (!item.empty()) invalid += "\r\nDer Wert UpdateSigner enthält einen ungültigen Fingerabdruck: " + item;
        } else if (SameThumbprint(item, thumbprint)) {
            found = true;
        }
        from = end + 1;
    }
    return found;
}

std::string Certificate(const Signer& signer) {
    return "Zertifikat " + signer.thumbprint + (signer.subject.empty() ? "" : " (" + signer.subject + ")");
}

// Why a package with pins set does not go on; empty when it does.
std::string Refusal(const std::string& pins, const Signer& signer, std::string& invalid) {
    bool pinned = Pinned(pins, signer.thumbprint, invalid);
    switch (signer.state) {
    case SignerState::Unsigned: return "keine Signatur.";
    case SignerState::Unreadable: return "die Signatur ist unlesbar.";
    case SignerState::Unverifiable:
        return "die Signatur kann auf diesem System nicht geprüft werden (" + Certificate(signer) + ").";
    default: break;
    }
    if (!pinned) return "signiert mit dem nicht hinterlegten " + Certificate(signer) + ".";
    if (signer.state != SignerState::Matches)
        return "die Signatur passt nicht zur Datei (" + Certificate(signer) +
               "): das Update wurde nach dem Signieren verändert.";
    return {};
}

}  // namespace

PublisherVerdict JudgePublisher(const std::string& pins, const Signer& signer) {
    PublisherVerdict verdict;
    const bool signedPackage = signer.state != SignerState::Unsigned && signer.state != SignerState::Unreadable;
    if (pins.empty()) {
        if (signedPackage) verdict.text = "\r\nSigniert mit " + Certificate(signer) + ".";
        return verdict;
    }
    std::string invalid, refusal = Refusal(pins, signer, invalid);
    verdict.accepted = refusal.empty();
    verdict.level = verdict.accepted ? 1 : 2;
    verdict.text = invalid + (verdict.accepted ? "\r\nSigniert mit dem hinterlegten " + Certificate(signer) + "."
                                               : "\r\nDas Update stammt nicht nachweislich vom Herausgeber: " +
                                                     refusal + "\r\nDas Update wird nicht ausgeführt.");
    if (!invalid.empty()) verdict.level = 2;
    return verdict;
}

std::string PinnedPublishers() {
    std::string pins;
    std::unique_ptr<RegistryKey> host =
        Reg().openKey(RootKey::LocalMachine, "Software\\Mevo\\Tarnix.Exe", kKeyQueryValue);
    if (!host || !host->queryString("UpdateSigner", 0, pins)) return {};
    return pins;
}
