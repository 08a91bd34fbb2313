#include "update/VersionCheck.h"

#include "base/Exception.h"
#include "env/MessageBoxes.h"
#include "env/Registry.h"
#include "env/Text.h"

int CompareVersions(const std::string& a, const std::string& b) {
    std::size_t common = a.size() < b.size() ? a.size() : b.size();
    for (std::size_t i = 0; i < common; ++i) {
        unsigned char x = static_cast<unsigned char>(a[i]), y = static_cast<unsigned char>(b[i]);
        if (x != y) return x < y ? -1 : 1;
    }
    if (a.size() == b.size()) return 0;
    return a.size() < b.size() ? -1 : 1;
}

namespace {

// The position (from 1) after a separator found at `at`: one further "=" is
// skipped, unless it is the text's last character.
int AfterSeparator(const std::string& text, int at) {
    int next = at + 1;
    if (next < static_cast<int>(text.size()) && text[std::size_t(next - 1)] == '=') ++next;
    return next;
}

}  // namespace

void ParseVChk(const std::string& text, TVChkRec& record) {
    int first = FindCharFrom('<', text, 1);
    if (first == 0) throw Exception("update.ini: \"<=\" erwartet in VChk");
    record.Earliest = text.substr(0, std::size_t(first - 1));
    StripQuotes(record.Earliest);

    int sourceStart = AfterSeparator(text, first);
    int second = FindCharFrom('<', text, sourceStart);
    if (second == 0) throw Exception("update.ini: 2x \"<=\" erwartet in VChk");
    record.Source = text.substr(std::size_t(sourceStart - 1), std::size_t(second - sourceStart));

    int latestStart = AfterSeparator(text, second);
    record.Latest = text.substr(std::size_t(latestStart - 1));
    StripQuotes(record.Latest);
}

int EvaluateVChk(const TVChkRec& record) {
    int result = ClassifyVChk(record);
    if (result == kVChkReversed) ShowInfo("früheste Version muss kleiner als späteste sein!");
    return result;
}

int ClassifyVChk(const TVChkRec& record) {
    if (record.Earliest.empty() && record.Latest.empty()) return kVChkPassed;
    if (CompareVersions(record.Latest, record.Earliest) < 0) return kVChkReversed;
    std::string keyReference, valueName;
    SplitValueReference(record.Source, keyReference, valueName);
    std::string installed = ReadRegistryString(keyReference, valueName, "", "");
    if (installed.empty()) return kVChkUnknown;
    if (CompareVersions(record.Earliest, installed) > 0) return kVChkTooOld;
    if (CompareVersions(installed, record.Latest) > 0) return kVChkTooNew;
    return kVChkPassed;
}

std::string VersionRefusal(const std::string& project, const TVChkRec& record, int result) {
    std::string text = "\r\nDie Version des installierten Projekts " + project;
    switch (result) {
    case kVChkUnknown: text += " kann nicht ermittelt werden.\r\nDas Update wird nicht ausgeführt."; break;
    case kVChkTooNew: text += " ist neuer als dieses Update.\r\nDas Update wird nicht ausgeführt."; break;
    case kVChkTooOld:
        text.append(" ist nicht mindestens ").append(record.Earliest);
        text += ".\r\nDas Update kann nicht ausgeführt werden.";
        break;
    default: return {};
    }
    return text;
}
