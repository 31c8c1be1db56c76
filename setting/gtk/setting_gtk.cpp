// Setting on Linux: the settings dialog drawn with GTK 3, with the controls, order and texts of the
// Windows dialog. The window manager's menu cannot be extended, so the About item is on the
// dialog's context menu (right click, or Shift+F10 / the Menu key).
#include <gtk/gtk.h>

#include <cstdio>
#include <map>
#include <string>

#include "platform/settings_store.h"
#include "setting/setting_dialog.h"

namespace {

using setting::SettingDialog;

// The program icon: three sliders on a blue tile, as in the Windows build.
GdkPixbuf* createIcon(int size) {
    cairo_surface_t* surface = cairo_image_surface_create(CAIRO_FORMAT_ARGB32, size, size);
    cairo_t* cr = cairo_create(surface);
    double unit = size / 32.0;
    cairo_set_source_rgb(cr, 0.16, 0.38, 0.71);
    cairo_rectangle(cr, 2 * unit, 2 * unit, 28 * unit, 28 * unit);
    cairo_fill(cr);
    const double knobs[3] = {20, 10, 16};
    for (int i = 0; i < 3; ++i) {
        double y = (8 + 8 * i) * unit;
        cairo_set_source_rgb(cr, 1, 1, 1);
        cairo_rectangle(cr, 7 * unit, y - unit, 18 * unit, 2 * unit);
        cairo_fill(cr);
        cairo_rectangle(cr, (knobs[i] - 2) * unit, y - 3 * unit, 4 * unit, 6 * unit);
        cairo_fill(cr);
    }
    cairo_destroy(cr);
    GdkPixbuf* pixbuf = gdk_pixbuf_get_from_surface(surface, 0, 0, size, size);
    cairo_surface_destroy(surface);
    return pixbuf;
}

class CSettingDlg final : public setting::DialogView {
public:
    CSettingDlg() : logic_(*this, [] {
                        return platform::openSettingsStore(platform::StoreAccess::CreateIfMissing);
                    }) {}

    ~CSettingDlg() override {
        if (icon_) g_object_unref(icon_);
    }

    void run() {
        build();
        logic_.open();
        gtk_widget_show_all(window_);
        gtk_main();
    }

    // DialogView
    void fillList(int controlId, const char* first, const char* second) override {
        GtkComboBoxText* list = GTK_COMBO_BOX_TEXT(lists_.at(controlId));
        gtk_combo_box_text_remove_all(list);
        gtk_combo_box_text_append_text(list, first);
        gtk_combo_box_text_append_text(list, second);
    }
    void selectItem(int controlId, int index) override {
        gtk_combo_box_set_active(GTK_COMBO_BOX(lists_.at(controlId)), index);
    }
    int selectedItem(int controlId) const override {
        return gtk_combo_box_get_active(GTK_COMBO_BOX(lists_.at(controlId)));
    }
    void showMessage(const char* text) override {
        GtkWidget* box = gtk_message_dialog_new(GTK_WINDOW(window_), GTK_DIALOG_MODAL, GTK_MESSAGE_OTHER,
                                                GTK_BUTTONS_OK, "%s", text);
        gtk_window_set_title(GTK_WINDOW(box), "Setting");
        gtk_dialog_run(GTK_DIALOG(box));
        gtk_widget_destroy(box);
    }
    bool askOkCancel(const char* question, const char* caption) override {
        GtkWidget* box = gtk_message_dialog_new(GTK_WINDOW(window_), GTK_DIALOG_MODAL, GTK_MESSAGE_QUESTION,
                                                GTK_BUTTONS_OK_CANCEL, "%s", question);
        gtk_window_set_title(GTK_WINDOW(box), caption);
        int answer = gtk_dialog_run(GTK_DIALOG(box));
        gtk_widget_destroy(box);
        return answer == GTK_RESPONSE_OK;
    }
    void showAbout() override;
    void close() override {
        gtk_widget_destroy(window_);
        gtk_main_quit();
    }

private:
    void build();
    GtkWidget* buildButtons();
    void showContextMenu(const GdkEvent* event);

    static gboolean onDelete(GtkWidget*, GdkEvent*, gpointer self) {
        static_cast<CSettingDlg*>(self)->logic_.closeBox();
        return TRUE;  // closed by the logic, not by GTK
    }
    static gboolean onKey(GtkWidget*, GdkEventKey* event, gpointer data) {
        auto* self = static_cast<CSettingDlg*>(data);
        if (event->keyval == GDK_KEY_Escape) {
            self->logic_.cancel();
            return TRUE;
        }
        if (event->keyval == GDK_KEY_Menu || (event->keyval == GDK_KEY_F10 && (event->state & GDK_SHIFT_MASK))) {
            self->showContextMenu(reinterpret_cast<GdkEvent*>(event));
            return TRUE;
        }
        return FALSE;
    }
    static gboolean onButton(GtkWidget*, GdkEventButton* event, gpointer self) {
        if (event->type != GDK_BUTTON_PRESS || event->button != GDK_BUTTON_SECONDARY) return FALSE;
        static_cast<CSettingDlg*>(self)->showContextMenu(reinterpret_cast<GdkEvent*>(event));
        return TRUE;
    }

    SettingDialog logic_;
    GtkWidget* window_ = nullptr;
    GtkWidget* menu_ = nullptr;
    GdkPixbuf* icon_ = nullptr;
    std::map<int, GtkWidget*> lists_;
};

void CSettingDlg::build() {
    window_ = gtk_window_new(GTK_WINDOW_TOPLEVEL);
    gtk_window_set_title(GTK_WINDOW(window_), setting::kDialogTitle);
    gtk_window_set_resizable(GTK_WINDOW(window_), FALSE);
    gtk_window_set_type_hint(GTK_WINDOW(window_), GDK_WINDOW_TYPE_HINT_DIALOG);
    gtk_window_set_position(GTK_WINDOW(window_), GTK_WIN_POS_CENTER);
    icon_ = createIcon(48);
    gtk_window_set_icon(GTK_WINDOW(window_), icon_);
    gtk_widget_add_events(window_, GDK_BUTTON_PRESS_MASK);
    g_signal_connect(window_, "delete-event", G_CALLBACK(onDelete), this);
    g_signal_connect(window_, "key-press-event", G_CALLBACK(onKey), this);
    g_signal_connect(window_, "button-press-event", G_CALLBACK(onButton), this);

    GtkWidget* grid = gtk_grid_new();
    gtk_grid_set_row_spacing(GTK_GRID(grid), 8);
    gtk_grid_set_column_spacing(GTK_GRID(grid), 16);
    gtk_container_set_border_width(GTK_CONTAINER(grid), 14);
    int top = 0;
    for (const setting::ListRow& row : setting::kRows) {
        GtkWidget* label = gtk_label_new(row.label);
        gtk_label_set_xalign(GTK_LABEL(label), 0);
        GtkWidget* list = gtk_combo_box_text_new();
        gtk_widget_set_size_request(list, 170, -1);
        gtk_widget_set_name(list, std::to_string(row.controlId).c_str());
        gtk_grid_attach(GTK_GRID(grid), label, 0, top, 1, 1);
        gtk_grid_attach(GTK_GRID(grid), list, 1, top, 1, 1);
        lists_[row.controlId] = list;
        ++top;
    }
    gtk_grid_attach(GTK_GRID(grid), buildButtons(), 0, top, 2, 1);
    gtk_container_add(GTK_CONTAINER(window_), grid);

    menu_ = gtk_menu_new();
    GtkWidget* about = gtk_menu_item_new_with_mnemonic("_About Setting...");
    g_signal_connect_swapped(about, "activate", G_CALLBACK(+[](gpointer self) {
                                 static_cast<CSettingDlg*>(self)->logic_.systemCommand(setting::kAboutCommand);
                             }),
                             this);
    gtk_menu_shell_append(GTK_MENU_SHELL(menu_), about);
    gtk_widget_show_all(menu_);
    gtk_menu_attach_to_widget(GTK_MENU(menu_), window_, nullptr);
}

// OK at the lower left, Cancel at the lower right.
GtkWidget* CSettingDlg::buildButtons() {
    GtkWidget* row = gtk_box_new(GTK_ORIENTATION_HORIZONTAL, 0);
    gtk_widget_set_margin_top(row, 10);
    GtkWidget* ok = gtk_button_new_with_label(setting::kOkText);
    GtkWidget* cancel = gtk_button_new_with_label(setting::kCancelText);
    gtk_widget_set_size_request(ok, 90, -1);
    gtk_widget_set_size_request(cancel, 90, -1);
    gtk_widget_set_can_default(ok, TRUE);
    gtk_box_pack_start(GTK_BOX(row), ok, FALSE, FALSE, 0);
    gtk_box_pack_end(GTK_BOX(row), cancel, FALSE, FALSE, 0);
    g_signal_connect_swapped(ok, "clicked", G_CALLBACK(+[](gpointer self) { static_cast<CSettingDlg*>(self)->logic_.ok(); }),
                             this);
    g_signal_connect_swapped(cancel, "clicked",
                             G_CALLBACK(+[](gpointer self) { static_cast<CSettingDlg*>(self)->logic_.cancel(); }), this);
    gtk_window_set_default(GTK_WINDOW(window_), ok);
    return row;
}

void CSettingDlg::showContextMenu(const GdkEvent* event) { gtk_menu_popup_at_pointer(GTK_MENU(menu_), event); }

// The About box: the program icon, the version line, a second line and OK.
void CSettingDlg::showAbout() {
    GtkWidget* box = gtk_dialog_new_with_buttons(setting::kAboutTitle, GTK_WINDOW(window_), GTK_DIALOG_MODAL,
                                                 setting::kOkText, GTK_RESPONSE_OK, nullptr);
    gtk_window_set_resizable(GTK_WINDOW(box), FALSE);
    GtkWidget* content = gtk_dialog_get_content_area(GTK_DIALOG(box));
    GtkWidget* row = gtk_box_new(GTK_ORIENTATION_HORIZONTAL, 16);
    gtk_container_set_border_width(GTK_CONTAINER(row), 12);
    GdkPixbuf* icon = createIcon(32);
    gtk_box_pack_start(GTK_BOX(row), gtk_image_new_from_pixbuf(icon), FALSE, FALSE, 0);
    g_object_unref(icon);
    GtkWidget* lines = gtk_box_new(GTK_ORIENTATION_VERTICAL, 6);
    for (const char* text : {setting::kAboutVersion, setting::kAboutSecondLine}) {
        GtkWidget* label = gtk_label_new(text);
        gtk_label_set_xalign(GTK_LABEL(label), 0);
        gtk_box_pack_start(GTK_BOX(lines), label, FALSE, FALSE, 0);
    }
    gtk_box_pack_start(GTK_BOX(row), lines, TRUE, TRUE, 0);
    gtk_box_pack_start(GTK_BOX(content), row, TRUE, TRUE, 0);
    gtk_widget_show_all(box);
    gtk_dialog_run(GTK_DIALOG(box));
    gtk_widget_destroy(box);
}

// The program is the dialog: it ends when the dialog closes.
class CSettingApp {
public:
    int run(int argc, char** argv) {
        if (!gtk_init_check(&argc, &argv)) {
            std::fputs("Setting: cannot open the display\n", stderr);
            return 1;
        }
        CSettingDlg dialog;
        dialog.run();
        return 0;
    }
};

}  // namespace

int main(int argc, char** argv) { return CSettingApp().run(argc, argv); }
