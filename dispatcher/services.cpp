#include "dispatcher/context.h"
#include "platform/clipboard.h"
#include "platform/console.h"
#include "platform/console_title.h"
#include "platform/locale.h"
#include "platform/paths.h"

namespace dispatcher {

Services systemServices() {
    Services services;
    services.readKey = platform::readKey;
    services.openSettings = [] { return platform::openSettingsStore(platform::StoreAccess::OpenExisting); };
    services.systemLanguageField = platform::systemLanguageField;
    services.clipboardText = [] { return platform::clipboardText(); };
    services.clearClipboard = platform::clearClipboard;
    services.startAndWait = [](const std::string& program, const std::vector<std::string>& argv) {
        return platform::runProgramAndWait(program, argv);
    };
    services.waitForProcess = platform::waitForProcess;
    services.setConsoleTitle = platform::setConsoleTitle;
    services.defaultInstallFolder = platform::defaultInstallFolder();
    services.ownFolder = platform::folderOf(platform::executablePath());
    services.createSettings = [] { return platform::openSettingsStore(platform::StoreAccess::CreateIfMissing); };
    services.removeSettings = [] { return platform::removeSettingsStore(platform::kProductScope); };
    services.acquireInstallLock = [] { return platform::acquireInstallLock(platform::kProductScope); };
    services.registerFolderVerb = platform::registerFolderVerb;
    services.removeFolderVerb = platform::removeFolderVerb;
    services.createShortcut = platform::createShortcut;
    services.menuFolder = platform::menuFolder();
    return services;
}

}  // namespace dispatcher
