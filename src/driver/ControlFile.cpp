#include "driver/ControlFile.h"

#include <memory>

#include "env/Text.h"
#include "update/UpdateParts.h"
#include "update/VersionCheck.h"

namespace {

class Interpreter {
public:
    Interpreter(TUpdateParts& parts, UpdateView& view) : parts_(parts), view_(view) {}

    void line(const std::string& text) {
        if (text.empty() || text[0] == ';') return;
        if (text[0] == '[') return header(text);
        if (checkRun_) return parts_.CheckRunList.push_back(text);
        std::size_t equals = text.find('=');
        if (equals == std::string::npos) return;
        std::string key = text.substr(0, equals);
        TrimBlanks(key);
        UpperCaseText(key);
        std::string value = text.substr(equals + 1);
        if (part_)
            partKey(key, value);
        else
            mainKey(key, value);
    }

private:
    // The name is the line without its first and its last character, whatever that is.
    void header(const std::string& text) {
        std::string name = text.size() >= 2 ? text.substr(1, text.size() - 2) : std::string();
        checkRun_ = SameText(name, "CheckRun");
        if (!checkRun_) part_ = &parts_.Add(name);
    }

    void mainKey(const std::string& key, const std::string& value) {
        if (key == "P") view_.SetUpdateName(value);
        else if (key == "V") view_.SetVersionText(value);
        else if (key == "FINALCMD") view_.setFinalCmd(value);
        else if (key == "CORI") view_.SetCoriText(value);
        else if (key == "EMAIL") view_.setEMail(value);
        else if (key == "WWW") view_.setWww(value);
        else if (key == "VCHK") ParseVChk(value, parts_.MainVChk);
        else if (key == "VRESULT") parts_.VResult = value;
        else if (key == "FONT") font(value);
        else if (key == "CHECKCMD") parts_.CheckCmd = value;
        else if (key == "CHECKWAIT") parts_.CheckWait = CheckWaitSeconds(value);
        else if (key == "ROLLBACK") parts_.RunRollback = value == "1";
    }

    void partKey(const std::string& key, const std::string& value) {
        if (key == "N") part_->DisplayName = value;
        else if (key == "TDIR") part_->SetTDir(value);
        else if (key == "VCHK") part_->SetVChk(value);
        else if (key == "VRESULT") part_->VResult = value;
        else if (key == "ROLLBACK") part_->Rollback = value == "1";
        else if (key == "REBOOTOK") part_->RebootOk = value == "1";
    }

    // File name, ",", font name; without "," the whole value is the font name.
    void font(const std::string& value) {
        std::size_t comma = value.find(',');
        std::string fileName = comma == std::string::npos ? std::string() : value.substr(0, comma);
        std::string fontName = comma == std::string::npos ? value : value.substr(comma + 1);
        parts_.FontList.push_back({fileName, std::make_unique<TStringObject>(fontName)});
    }

    TUpdateParts& parts_;
    UpdateView& view_;
    TUpdatePart* part_ = nullptr;
    bool checkRun_ = false;
};

}  // namespace

unsigned CheckWaitSeconds(const std::string& value, bool* exact) {
    std::size_t first = value.find_first_not_of(' '), end = value.find_last_not_of(' ') + 1;
    bool number = first != std::string::npos && value.find_first_not_of("0123456789", first) >= end;
    unsigned seconds = number ? 0 : kDefaultCheckWait;
    for (std::size_t i = first; number && i < end && seconds <= 3600; ++i)
        seconds = seconds * 10 + unsigned(value[i] - '0');
    if (exact) *exact = number && first == 0 && end == value.size() && seconds >= 1 && seconds <= 3600;
    return seconds < 1 ? 1 : seconds > 3600 ? 3600 : seconds;
}

void InterpretControlFile(const StringList& lines, TUpdateParts& parts, UpdateView& view) {
    Interpreter interpreter(parts, view);
    for (const std::string& text : lines) interpreter.line(text);
}
