#include "setting/setting_dialog.h"

namespace setting {
namespace {

constexpr const char* kWordName = "GlobalOpt";

}  // namespace

int selectionFor(const ListRow& row, std::uint32_t word) {
    if (row.bits == kLanguageMask) return (word & kLanguageMask) ? 1 : 0;
    return (word & row.bits) ? 0 : 1;
}

std::uint32_t applySelections(std::uint32_t word, const int (&selections)[kRowCount]) {
    for (int i = 0; i < kRowCount; ++i) {
        const ListRow& row = kRows[i];
        if (row.bits == kLanguageMask) {
            word &= ~kLanguageMask;
            if (selections[i] == 1) word |= kEnglish;
        } else if (selections[i] == 0) {
            word |= row.bits;
        } else {
            word &= ~row.bits;
        }
    }
    return word;
}

void SettingDialog::open() {
    for (const ListRow& row : kRows) view_.fillList(row.controlId, row.choices[0], row.choices[1]);
    store_ = openStore_();
    if (!store_) {
        // The dialog stays usable; saving writes nothing.
        view_.showMessage(kKeyFailMessage);
        return;
    }
    word_ = store_->readWord(kWordName).value_or(kDefaultWord) & ~kUnusedBits;
    for (const ListRow& row : kRows) view_.selectItem(row.controlId, selectionFor(row, word_));
}

void SettingDialog::save() {
    int selections[kRowCount];
    for (int i = 0; i < kRowCount; ++i) selections[i] = view_.selectedItem(kRows[i].controlId);
    word_ = applySelections(word_, selections) & ~kUnusedBits;
    if (store_) store_->writeWord(kWordName, word_);
}

void SettingDialog::ok() {
    save();
    view_.close();
}

void SettingDialog::cancel() { view_.close(); }

void SettingDialog::closeBox() {
    if (view_.askOkCancel(kSaveQuestion, kDialogTitle)) save();
    view_.close();
}

bool SettingDialog::systemCommand(unsigned id) {
    if ((id & 0xFFF0u) != kAboutCommand) return false;
    view_.showAbout();
    return true;
}

}  // namespace setting
