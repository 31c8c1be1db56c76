// The Dispatcher's message catalog: 27 texts in Chinese (the default) and English with the same
// ids, chosen per run. Texts are printf formats (see common/text_format.h).
#pragma once

#include <cstdint>

namespace dispatcher {

enum class Msg : std::uint8_t {
    Usage = 0,
    ErrorPrefix = 1,
    WarningPrefix = 2,
    ConnectingRemote = 3,
    UpdatingToNewVersion = 4,
    UpdateDone = 5,
    SetupStarted = 6,
    SetupDone = 7,
    UninstallStarted = 8,
    UninstallDone = 9,
    UnrecognizedArgument = 10,
    IncorrectDirectory = 11,
    OptionNeedsArguments = 12,
    FailToOpen = 13,
    FailToCopy = 14,
    PressAnyKey = 15,
    NoExceptionInfo = 16,
    FailToLaunch = 17,
    NotAnExceptionDb = 18,
    FailToConnect = 19,
    UnrecognizedUpdateInfo = 20,
    NewVersionToDownload = 21,
    UpdateInProgress = 22,
    FailToUnzip = 23,
    FailToRegister = 24,
    CheckRemoteSymbols = 25,
    SymbolsFromClipboard = 26,
};

inline constexpr unsigned kMessageCount = 27;

enum class Language : std::uint8_t { Chinese, English };

// The text of `id` in `language`; Chinese texts are in the build's output encoding (GBK for
// Windows, UTF-8 elsewhere).
const char* catalogText(Language language, Msg id);

// The run's table: Chinese until English is selected.
class MessageCatalog {
public:
    Language language() const { return language_; }
    void select(Language language) { language_ = language; }
    const char* text(Msg id) const { return catalogText(language_, id); }

private:
    Language language_ = Language::Chinese;
};

}  // namespace dispatcher
