// The settings dialog's behaviour, apart from any window system: which lists it shows, how the
// option word selects their items, and how the selections are saved back. The Win32 and GTK
// front-ends draw the controls and forward the user's commands here.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>

#include "platform/settings_store.h"

namespace setting {

// Control ids (shared with the Win32 resource script).
inline constexpr int kLanguageList = 1000;
inline constexpr int kCmmList = 1001;
inline constexpr int kGdbList = 1002;
inline constexpr int kLibrariesList = 1003;
inline constexpr int kThreadsList = 1004;
inline constexpr unsigned kAboutCommand = 0x10;  // system-menu item "&About Setting..."

inline constexpr const char* kDialogTitle = "Setting of Ferrovane";
inline constexpr const char* kKeyFailMessage = "Create Register Key Fail";
inline constexpr const char* kSaveQuestion = "Do you want to Save the Settings?";
inline constexpr const char* kAboutTitle = "About Setting";
inline constexpr const char* kAboutMenuItem = "&About Setting...";
inline constexpr const char* kAboutVersion = "Setting Version 1.0";
inline constexpr const char* kAboutSecondLine = "Ferrovane post-mortem toolkit";
inline constexpr const char* kOkText = "OK";
inline constexpr const char* kCancelText = "Cancel";

inline constexpr std::uint32_t kLanguageMask = 0x300;
inline constexpr std::uint32_t kEnglish = 0x100;
inline constexpr std::uint32_t kUnusedBits = 0x4 | 0x8;  // always saved as 0
inline constexpr std::uint32_t kDefaultWord = 0x30;      // when nothing is stored yet

// One labelled drop-down list. For yes/no lists index 0 ("Yes") sets `bits`; the language list
// selects index 1 ("English") for any language field other than 0.
struct ListRow {
    int controlId;
    const char* label;
    const char* choices[2];
    std::uint32_t bits;
};

// Top to bottom as the dialog shows them.
inline constexpr ListRow kRows[] = {
    {kLanguageList, "Language Mode:", {"Simplified Chinese", "English"}, kLanguageMask},
    {kThreadsList, "Show All Threads in Report:", {"Yes", "No"}, 0x80},
    {kCmmList, "Gen CMM Script:", {"Yes", "No"}, 0x10},
    {kGdbList, "Gen GDB Script:", {"Yes", "No"}, 0x20},
    {kLibrariesList, "Load All Librarys in Script:", {"Yes", "No"}, 0x40},
};
inline constexpr int kRowCount = static_cast<int>(sizeof kRows / sizeof kRows[0]);

// What a front-end does for the dialog.
class DialogView {
public:
    virtual ~DialogView() = default;
    virtual void fillList(int controlId, const char* first, const char* second) = 0;
    virtual void selectItem(int controlId, int index) = 0;
    virtual int selectedItem(int controlId) const = 0;  // -1 when nothing is selected
    virtual void showMessage(const char* text) = 0;     // a message box with OK
    virtual bool askOkCancel(const char* question, const char* caption) = 0;  // true for OK
    virtual void showAbout() = 0;                       // the About box, modal
    virtual void close() = 0;                           // ends the dialog
};

// Opens the settings store, creating it when missing; null when that fails.
using StoreOpener = std::function<std::unique_ptr<platform::SettingsStore>()>;

// The list index that shows `word` in `row`.
int selectionFor(const ListRow& row, std::uint32_t word);

// `word` with the bits of every row set from its list's selection (`selections` in kRows order).
// The language field becomes 1 when "English" is selected and 0 otherwise; yes/no bits are set
// for "Yes" and cleared for anything else. All other bits are kept.
std::uint32_t applySelections(std::uint32_t word, const int (&selections)[kRowCount]);

class SettingDialog {
public:
    SettingDialog(DialogView& view, StoreOpener openStore) : view_(view), openStore_(std::move(openStore)) {}

    // Fills the lists, opens the store, reads the word and selects the items that show it.
    void open();
    void ok();        // save, then close
    void cancel();    // close without saving
    void closeBox();  // ask whether to save; close either way
    // A system-menu command; true when it was the About item (the others are the window's).
    bool systemCommand(unsigned id);

    std::uint32_t word() const { return word_; }
    bool hasStore() const { return store_ != nullptr; }

private:
    void save();

    DialogView& view_;
    StoreOpener openStore_;
    std::unique_ptr<platform::SettingsStore> store_;
    std::uint32_t word_ = 0;
};

}  // namespace setting
