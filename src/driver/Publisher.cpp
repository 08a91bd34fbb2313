#include "driver/Publisher.h"

#include <algorithm>

#include "env/Registry.h"
#include "platform/Registry.h"

namespace {

char Upper(char c) { return c >= 'a' && c <= 'z' ? char(c - 0x20) : c; }

// Whether pins[from, end) is 64 hexadecimal digits, and equals `thumbprint` (upper case) when `same`.
bool IsThumbprint(const std::string& pins, std::size_t from, std::size_t end, const std::string& thumbprint,
                  bool& same) {
    if (end - from != 64) return false;
    same = thumbprint.size() == 64;
    for (std::size_t i = 0; i < 64; ++i) {
        char c = Upper(pins[from + i]);
        if (!((c >= '0' && c <= '9') || (c >= 'A' && c <= 'F'))) return false;
        same = same && c == thumbprint[i];
    }
    return true;
}

// Whether `thumbprint` is among the pins (either case, blanks around items
// left out); each item that is no thumbprint is named in `log`.
bool Pinned(const std::string& pins, const std::string& thumbprint, std::string& log) {
    bool found = false;
    for (std::size_t from = 0, end; from <= pins.size(); from = end + 1) {
        end = std::min(pins.find(';', from), pins.size());
        std::size_t last = end;
        while (from < last && pins[from] == ' ') ++from;
        while (last > from && pins[last - 1] == ' ') --last;
        bool same = false;
        if (IsThumbprint(pins, from, last, thumbprint, same)) {
            found = found || same;
        } else if (last > from) {
            log += "\r\nDer Wert UpdateSigner enthält einen ungültigen Fingerabdruck: ";
            log.append(pins, from, last - from);
        }
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

bool PinnedPublishers(std::string& pins) {
    pins.clear();
    // The value itself, of any length: not a key of that name, and not "not set"
    // for every failure to read it.
    std::unique_ptr<RegistryKey> key = Reg().openKey(RootKey::LocalMachine, "Software\\Mevo\\Tarnix.Exe", kKeyQueryValue);
    if (!key) return Reg().lastError() == kRegErrFileNotFound;
    return key->queryString("UpdateSigner", 0, pins) || Reg().lastError() == kRegErrFileNotFound;
}
