#include "driver/Publisher.h"

#include "platform/Registry.h"

namespace {

bool IsThumbprint(const std::string& item) {
    if (item.size() != 64) return false;
    for (char c : item)
        if (!((c >= '0' && c <= '9') || (c >= 'A' && c <= 'F'))) return false;
    return true;
}

// Whether `thumbprint` (upper case) is among the pins, which may be in either
// case; blanks are left out, and each item that is no thumbprint is named in `log`.
bool Pinned(const std::string& pins, const std::string& thumbprint, std::string& log) {
    bool found = false;
    std::string item;
    for (std::size_t i = 0; i <= pins.size(); ++i) {
        char c = i < pins.size() ? pins[i] : ';';
        if (c == ' ') continue;
        if (c != ';') {
            item += c >= 'a' && c <= 'f' ? char(c - 0x20) : c;
            continue;
        }
        if (!item.empty() && !IsThumbprint(item)) {
            log += "\r\nDer Wert UpdateSigner enthält einen ungültigen Fingerabdruck: ";
            log += item;
        }
        found = found || (IsThumbprint(item) && item == thumbprint);
        item.clear();
    }
    return found;
}

// Why a package does not go on where pins are set; nullptr when it does.
const char* Refusal(SignerState state, bool pinned) {
    switch (state) {
    case SignerState::Unsigned: return "keine Signatur.";
    case SignerState::Unreadable: return "die Signatur ist unlesbar.";
    case SignerState::Unverifiable: return "die Signatur kann auf diesem System nicht geprüft werden.";
    default: break;
    }
    if (!pinned) return "signiert mit einem nicht hinterlegten Zertifikat.";
    if (state != SignerState::Matches) return "die Signatur passt nicht zur Datei: sie wurde nach dem Signieren verändert.";
    return nullptr;
}

}  // namespace

PublisherVerdict JudgePublisher(const std::string& pins, const Signer& signer) {
    PublisherVerdict verdict;
    std::string& text = verdict.text;
    const char* refusal = pins.empty() ? nullptr : Refusal(signer.state, Pinned(pins, signer.thumbprint, text));
    if (!text.empty()) verdict.level = 2;
    if (refusal) {
        verdict.accepted = false;
        verdict.level = 2;
        text += "\r\nDas Update stammt nicht nachweislich vom Herausgeber: ";
        text += refusal;
    }
    if (!signer.thumbprint.empty()) {
        text += "\r\nSigniert mit Zertifikat ";
        text += signer.thumbprint;
        text += " (";
        text += signer.subject;
        text += ").";
    }
    if (refusal) text += "\r\nDas Update wird nicht ausgeführt.";
    return verdict;
}

std::string PinnedPublishers() {
    std::string pins;
    std::unique_ptr<RegistryKey> host =
        Reg().openKey(RootKey::LocalMachine, "Software\\Mevo\\Tarnix.Exe", kKeyQueryValue);
    if (!host || !host->queryString("UpdateSigner", 0, pins)) return {};
    return pins;
}
