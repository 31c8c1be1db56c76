// The settings dialog's behaviour through a recording view: what it shows for a stored word, what
// each command saves, and the resource script's agreement with it.
#include <gtest/gtest.h>

#include <fstream>
#include <map>
#include <sstream>

#include "setting/setting_dialog.h"
#include "tests/dispatcher/memory_store.h"

namespace {

using setting::SettingDialog;
using testsupport::MemoryStore;

class RecordingView final : public setting::DialogView {
public:
    void fillList(int id, const char* first, const char* second) override {
        lists[id] = {first, second};
        selected[id] = -1;
    }
    void selectItem(int id, int index) override { selected[id] = index; }
    int selectedItem(int id) const override { return selected.at(id); }
    void showMessage(const char* text) override { messages.push_back(text); }
    bool askOkCancel(const char* question, const char* caption) override {
        questions.push_back(std::string(caption) + ": " + question);
        return answerOk;
    }
    void showAbout() override { ++abouts; }
    void close() override { ++closes; }

    // The shown choice of a list, or "" without a selection.
    std::string shown(int id) const {
        int index = selected.at(id);
        return index < 0 ? "" : lists.at(id)[static_cast<std::size_t>(index)];
    }

    std::map<int, std::vector<std::string>> lists;
    std::map<int, int> selected;
    std::vector<std::string> messages, questions;
    bool answerOk = true;
    int abouts = 0, closes = 0;
};

struct Dialog {
    Dialog() : logic(view, [this] { return store.create(); }) {}
    std::optional<std::uint32_t> stored() { return store.open() ? store.open()->readWord("GlobalOpt") : std::nullopt; }

    MemoryStore store;
    RecordingView view;
    SettingDialog logic;
};

std::vector<std::string> shownRows(const RecordingView& view) {
    std::vector<std::string> rows;
    for (const auto& row : setting::kRows) rows.push_back(view.shown(row.controlId));
    return rows;
}

TEST(SettingDialog, WithoutAStoredWordTheDefaultsAreShown) {
    Dialog d;
    d.store.state().exists = false;
    d.logic.open();
    EXPECT_EQ(shownRows(d.view), (std::vector<std::string>{"Simplified Chinese", "No", "Yes", "Yes", "No"}));
    EXPECT_EQ(d.view.lists.at(setting::kLanguageList), (std::vector<std::string>{"Simplified Chinese", "English"}));
    EXPECT_EQ(d.view.lists.at(setting::kLibrariesList), (std::vector<std::string>{"Yes", "No"}));
    d.logic.ok();
    EXPECT_EQ(d.stored(), 0x30u);
    EXPECT_EQ(d.view.closes, 1);
}

TEST(SettingDialog, TheStoredWordSelectsTheItems) {
    Dialog d;
    d.store.setWord("GlobalOpt", 0x1C0 | 0x200);
    d.logic.open();
    EXPECT_EQ(shownRows(d.view), (std::vector<std::string>{"English", "Yes", "No", "No", "Yes"}));
}

TEST(SettingDialog, SavingKeepsOtherBitsAndClearsTheUnusedOnes) {
    Dialog d;
    d.store.setWord("GlobalOpt", 0x1 | 0x2 | 0x4 | 0x8 | 0x1000 | 0x10000 | 0x80000000u);
    d.logic.open();
    EXPECT_EQ(d.logic.word(), 0x1u | 0x2 | 0x1000 | 0x10000 | 0x80000000u);
    d.view.selected[setting::kCmmList] = 0;
    d.view.selected[setting::kThreadsList] = 0;
    d.logic.ok();
    EXPECT_EQ(d.stored(), 0x1u | 0x2 | 0x10 | 0x80 | 0x1000 | 0x10000 | 0x80000000u);
}

TEST(SettingDialog, TheTraditionalLanguageIsSavedAsWhatIsShown) {
    {
        Dialog d;
        d.store.setWord("GlobalOpt", 0x230);
        d.logic.open();
        EXPECT_EQ(d.view.shown(setting::kLanguageList), "English");
        d.logic.ok();
        EXPECT_EQ(d.stored(), 0x130u);
    }
    {
        Dialog d;
        d.store.setWord("GlobalOpt", 0x330);
        d.logic.open();
        d.view.selected[setting::kLanguageList] = 0;
        d.logic.ok();
        EXPECT_EQ(d.stored(), 0x30u);
    }
}

TEST(SettingDialog, CancelAndTheCloseBoxAnsweredCancelSaveNothing) {
    {
        Dialog d;
        d.store.setWord("GlobalOpt", 0x30);
        d.logic.open();
        d.view.selected[setting::kGdbList] = 1;
        d.logic.cancel();
        EXPECT_EQ(d.stored(), 0x30u);
        EXPECT_EQ(d.store.state().writes, 0);
        EXPECT_EQ(d.view.closes, 1);
    }
    {
        Dialog d;
        d.store.setWord("GlobalOpt", 0x30);
        d.view.answerOk = false;
        d.logic.open();
        d.view.selected[setting::kGdbList] = 1;
        d.logic.closeBox();
        EXPECT_EQ(d.stored(), 0x30u);
        EXPECT_EQ(d.view.questions,
                  std::vector<std::string>{"Setting of Ferrovane: Do you want to Save the Settings?"});
        EXPECT_EQ(d.view.closes, 1);
    }
    {
        Dialog d;
        d.store.setWord("GlobalOpt", 0x30);
        d.logic.open();
        d.view.selected[setting::kGdbList] = 1;
        d.logic.closeBox();
        EXPECT_EQ(d.stored(), 0x10u);
        EXPECT_EQ(d.view.closes, 1);
    }
}

TEST(SettingDialog, AStoreThatCannotBeCreatedLeavesTheListsEmptyAndSavesNothing) {
    Dialog d;
    d.store.state().exists = false;
    d.store.state().writable = false;
    d.logic.open();
    EXPECT_EQ(d.view.messages, std::vector<std::string>{"Create Register Key Fail"});
    EXPECT_EQ(shownRows(d.view), std::vector<std::string>(5, ""));
    EXPECT_EQ(d.view.lists.size(), 5u);
    d.logic.ok();
    EXPECT_EQ(d.store.state().writes, 0);
    EXPECT_EQ(d.view.closes, 1);
}

TEST(SettingDialog, TheAboutCommandIgnoresItsLowFourBits) {
    Dialog d;
    EXPECT_TRUE(d.logic.systemCommand(0x10));
    EXPECT_TRUE(d.logic.systemCommand(0x1F));
    EXPECT_FALSE(d.logic.systemCommand(0x20));
    EXPECT_FALSE(d.logic.systemCommand(0xF060));  // SC_CLOSE belongs to the window
    EXPECT_EQ(d.view.abouts, 2);
}

TEST(SettingDialog, SelectionsMapToBits) {
    const int english[] = {1, 0, 0, 0, 0};
    EXPECT_EQ(setting::applySelections(0x200, english), 0x1F0u);
    const int none[] = {-1, -1, -1, -1, -1};
    EXPECT_EQ(setting::applySelections(0xFFFFFFFFu, none), 0xFFFFFC0Fu);
}

// Splits a resource-script statement such as `LTEXT "Label", IDC_STATIC, 14, 16, 110, 8` into its
// keyword, its quoted text (if any) and its comma-separated fields.
struct Statement {
    std::string keyword, text;
    std::vector<std::string> fields;
};

Statement parseStatement(const std::string& line) {
    Statement statement;
    std::istringstream in(line);
    in >> statement.keyword;
    std::string rest;
    std::getline(in, rest);
    std::size_t open = rest.find('"');
    if (open != std::string::npos) {
        std::size_t close = rest.find('"', open + 1);
        statement.text = rest.substr(open + 1, close - open - 1);
        rest = rest.substr(close + 1);
    }
    std::istringstream fields(rest);
    for (std::string field; std::getline(fields, field, ',');) {
        field.erase(0, field.find_first_not_of(" \t"));
        field.erase(field.find_last_not_of(" \t") + 1);
        if (!field.empty()) statement.fields.push_back(field);
    }
    return statement;
}

std::string readSource(const std::string& relative) {
    std::ifstream in(std::string(FERROVANE_SOURCE_DIR) + "/" + relative);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

// The Windows resource script carries the same ids, texts and order as the dialog's logic.
TEST(SettingDialog, TheResourceScriptAgreesWithTheLogic) {
    const std::string rc = readSource("setting/win32/setting.rc");
    ASSERT_FALSE(rc.empty()) << "setting.rc not found";
    EXPECT_NE(rc.find("DIALOGEX 0, 0, 226, 150"), std::string::npos);
    for (const char* text : {setting::kDialogTitle, setting::kAboutTitle, setting::kAboutVersion,
                             setting::kAboutSecondLine, setting::kAboutMenuItem})
        EXPECT_NE(rc.find(std::string("\"") + text + "\""), std::string::npos) << text;

    std::map<std::string, int> ids;
    std::istringstream header(readSource("setting/win32/resource.h"));
    for (std::string line; std::getline(header, line);) {
        std::istringstream words(line);
        std::string define, name, value;
        if (words >> define >> name >> value && define == "#define" && value[0] != '(')
            ids[name] = std::stoi(value, nullptr, 0);
    }
    EXPECT_EQ(ids["IDM_ABOUTBOX"], static_cast<int>(setting::kAboutCommand));

    // Rows: each label followed by its list, top to bottom in the logic's order; then OK at the
    // left and Cancel at the right, below the rows.
    std::vector<std::pair<std::string, int>> rows;
    std::string label;
    int lastTop = -1, okLeft = -1, okTop = -1, cancelLeft = -1;
    std::istringstream lines(rc.substr(rc.find("IDD_SETTING_DIALOG DIALOGEX")));
    for (std::string line; std::getline(lines, line) && line != "END";) {
        Statement s = parseStatement(line);
        if (s.keyword == "LTEXT") {
            label = s.text;
            int top = std::stoi(s.fields.at(2));
            EXPECT_GT(top, lastTop) << label;
            lastTop = top;
        } else if (s.keyword == "COMBOBOX") {
            rows.push_back({label, ids.at(s.fields.at(0))});
        } else if (s.keyword == "DEFPUSHBUTTON" && s.text == "OK") {
            okLeft = std::stoi(s.fields.at(1));
            okTop = std::stoi(s.fields.at(2));
        } else if (s.keyword == "PUSHBUTTON" && s.text == "Cancel") {
            cancelLeft = std::stoi(s.fields.at(1));
        }
    }
    ASSERT_EQ(rows.size(), static_cast<std::size_t>(setting::kRowCount));
    for (int i = 0; i < setting::kRowCount; ++i) {
        EXPECT_EQ(rows[i].first, setting::kRows[i].label);
        EXPECT_EQ(rows[i].second, setting::kRows[i].controlId);
    }
    EXPECT_LT(okLeft, cancelLeft);
    EXPECT_GT(okTop, lastTop);
}

}  // namespace
