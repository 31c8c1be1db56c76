// Setting on Windows: the option-word dialog from the resource script, its About box and the
// system-menu item that opens it. The behaviour lives in setting/setting_dialog.h.
#include <windows.h>

#include "platform/settings_store.h"
#include "resource.h"
#include "setting/setting_dialog.h"

namespace {

INT_PTR CALLBACK aboutProc(HWND dialog, UINT message, WPARAM wParam, LPARAM) {
    if (message == WM_INITDIALOG) return TRUE;
    if (message == WM_COMMAND && (LOWORD(wParam) == IDOK || LOWORD(wParam) == IDCANCEL)) {
        EndDialog(dialog, LOWORD(wParam));
        return TRUE;
    }
    return FALSE;
}

class CAboutDlg {
public:
    static void doModal(HWND owner) {
        DialogBoxParamA(GetModuleHandleA(nullptr), MAKEINTRESOURCEA(IDD_ABOUTBOX), owner, aboutProc, 0);
    }
};

class CSettingDlg final : public setting::DialogView {
public:
    CSettingDlg()
        : logic_(*this, [] { return platform::openSettingsStore(platform::StoreAccess::CreateIfMissing); }) {}

    INT_PTR doModal() {
        return DialogBoxParamA(GetModuleHandleA(nullptr), MAKEINTRESOURCEA(IDD_SETTING_DIALOG), nullptr, dialogProc,
                               reinterpret_cast<LPARAM>(this));
    }

    // DialogView
    void fillList(int controlId, const char* first, const char* second) override {
        SendDlgItemMessageA(window_, controlId, CB_RESETCONTENT, 0, 0);
        SendDlgItemMessageA(window_, controlId, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(first));
        SendDlgItemMessageA(window_, controlId, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(second));
    }
    void selectItem(int controlId, int index) override {
        SendDlgItemMessageA(window_, controlId, CB_SETCURSEL, static_cast<WPARAM>(index), 0);
    }
    int selectedItem(int controlId) const override {
        LRESULT index = SendDlgItemMessageA(window_, controlId, CB_GETCURSEL, 0, 0);
        return index == CB_ERR ? -1 : static_cast<int>(index);
    }
    void showMessage(const char* text) override { MessageBoxA(window_, text, "Setting", MB_OK); }
    bool askOkCancel(const char* question, const char* caption) override {
        return MessageBoxA(window_, question, caption, MB_OKCANCEL) == IDOK;
    }
    void showAbout() override { CAboutDlg::doModal(window_); }
    void close() override { EndDialog(window_, 0); }

private:
    static INT_PTR CALLBACK dialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
        if (message == WM_INITDIALOG) {
            SetWindowLongPtrA(dialog, DWLP_USER, lParam);
            reinterpret_cast<CSettingDlg*>(lParam)->window_ = dialog;
        }
        auto* self = reinterpret_cast<CSettingDlg*>(GetWindowLongPtrA(dialog, DWLP_USER));
        return self ? self->handle(message, wParam, lParam) : FALSE;
    }

    INT_PTR handle(UINT message, WPARAM wParam, LPARAM) {
        switch (message) {
            case WM_INITDIALOG:
                initDialog();
                return TRUE;
            case WM_SYSCOMMAND:
                return logic_.systemCommand(static_cast<unsigned>(wParam)) ? TRUE : FALSE;
            case WM_COMMAND:
                if (LOWORD(wParam) == IDOK) logic_.ok();
                else if (LOWORD(wParam) == IDCANCEL) logic_.cancel();
                else return FALSE;
                return TRUE;
            case WM_CLOSE:
                logic_.closeBox();
                return TRUE;
            case WM_PAINT:
                if (!IsIconic(window_)) return FALSE;
                paintIcon();
                return TRUE;
            case WM_QUERYDRAGICON:
                return reinterpret_cast<INT_PTR>(icon_);
            default:
                return FALSE;
        }
    }

    // The About item joins the system menu only when its text could be loaded.
    void initDialog() {
        char text[64];
        if (HMENU menu = GetSystemMenu(window_, FALSE);
            menu && LoadStringA(GetModuleHandleA(nullptr), IDS_ABOUTBOX, text, sizeof text) > 0) {
            AppendMenuA(menu, MF_SEPARATOR, 0, nullptr);
            AppendMenuA(menu, MF_STRING, IDM_ABOUTBOX, text);
        }
        HINSTANCE instance = GetModuleHandleA(nullptr);
        icon_ = LoadIconA(instance, MAKEINTRESOURCEA(IDR_MAINFRAME));
        auto smallIcon = static_cast<HICON>(LoadImageA(instance, MAKEINTRESOURCEA(IDR_MAINFRAME), IMAGE_ICON,
                                                        GetSystemMetrics(SM_CXSMICON), GetSystemMetrics(SM_CYSMICON), 0));
        SendMessageA(window_, WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(icon_));
        SendMessageA(window_, WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(smallIcon ? smallIcon : icon_));
        logic_.open();
    }

    // While minimized the dialog shows its icon in the middle of its client area.
    void paintIcon() {
        PAINTSTRUCT paint;
        HDC dc = BeginPaint(window_, &paint);
        SendMessageA(window_, WM_ICONERASEBKGND, reinterpret_cast<WPARAM>(dc), 0);
        RECT client;
        GetClientRect(window_, &client);
        int x = (client.right - client.left - GetSystemMetrics(SM_CXICON) + 1) / 2;
        int y = (client.bottom - client.top - GetSystemMetrics(SM_CYICON) + 1) / 2;
        DrawIcon(dc, x, y, icon_);
        EndPaint(window_, &paint);
    }

    setting::SettingDialog logic_;
    HWND window_ = nullptr;
    HICON icon_ = nullptr;
};

// The program is the dialog: it ends when the dialog closes.
class CSettingApp {
public:
    int run() {
        CSettingDlg dialog;
        dialog.doModal();
        return 0;
    }
};

}  // namespace

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) { return CSettingApp().run(); }
