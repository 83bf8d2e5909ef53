#include "kiosk/lockdown.h"

#include <QDebug>

#include "util/trusted_origins.h"
#include "util/util_win.h"

namespace ombrix {
namespace {

// Added to every frame before its own scripts, in a world of its own: two
// fingers never zoom, and images, links and text cannot be dragged out of the
// window (an element the page made draggable still drags within it).
constexpr char kLockdownScript[] = R"((function () {
  const stop = (e) => e.preventDefault();
  addEventListener('touchmove', (e) => { if (e.touches.length > 1) stop(e); },
                   {capture: true, passive: false});
  addEventListener('gesturestart', stop, true);
  addEventListener('wheel', (e) => { if (e.ctrlKey) stop(e); }, {capture: true, passive: false});
  addEventListener('dragstart', (e) => {
    const t = e.target;
    if (!(t && t.nodeType === 1 && t.getAttribute('draggable') === 'true')) stop(e);
  }, true);
})();)";

constexpr int kMaxWrongPins = 3;

QString KeyNameOf(const GdkEventKey* event) {
  // The key as it is without Shift: Ctrl+Shift+1 is "1", not "exclam".
  guint keyval = event->keyval;
  GdkKeymap* keymap = gdk_keymap_get_for_display(gdk_display_get_default());
  gdk_keymap_translate_keyboard_state(keymap, event->hardware_keycode, GdkModifierType(0),
                                      event->group, &keyval, nullptr, nullptr, nullptr);
  const char* name = gdk_keyval_name(gdk_keyval_to_lower(keyval));
  return QString::fromLatin1(name ? name : "").toLower();
}

}  // namespace

Lockdown::Lockdown(const ManifestUtil& manifest, const QString& first_page,
                   std::function<void()> exit)
    : on_(manifest.lockdown_), zoom_(manifest.zoom_), exit_(std::move(exit)) {
  allowed_ = manifest.allowed_urls_.isEmpty()
                 ? UrlAllowList()
                 : UrlAllowList::FromEntries(manifest.allowed_urls_, nullptr);
  // Nothing usable listed: the first page's origin alone, never a locked page
  // that can go nowhere.
  if (allowed_.empty()) allowed_ = UrlAllowList::ForFirstPage(first_page);
  // The app's own offline page shows whatever the list says.
  const QString offline = manifest.OfflinePage();
  if (!offline.isEmpty()) {
    allowed_.Add(offline.left(offline.indexOf(QLatin1Char('?')) < 0 ? offline.size()
                                                                    : offline.indexOf('?')));
  }
  QString error;
  if (!manifest.exit_keys_.isEmpty()) {
    exit_chord_ = ParseKeyChord(manifest.exit_keys_, IsKeyName, &error);
  }
  pin_ = manifest.exit_pin_;
  if (on_) qDebug() << "lockdown on; allowed:" << allowed_.prefixes();
}

Lockdown::~Lockdown() { ClosePinPrompt(); }

void Lockdown::AttachView(WebKitWebView* view, bool popup) {
  if (!on_) return;
  g_signal_connect(view, "decide-policy", G_CALLBACK(OnDecidePolicy), this);
  webkit_web_view_set_zoom_level(view, zoom_);
  g_signal_connect(view, "notify::zoom-level", G_CALLBACK(OnZoomChanged), this);
  g_signal_connect(view, "event", G_CALLBACK(OnViewEvent), this);
  WebKitSettings* settings = webkit_web_view_get_settings(view);
  webkit_settings_set_enable_back_forward_navigation_gestures(settings, FALSE);
  webkit_settings_set_enable_developer_extras(settings, FALSE);
  // Pop-ups share their opener's content manager: one script serves them all.
  if (popup) return;
  WebKitUserScript* script = webkit_user_script_new_for_world(
      kLockdownScript, WEBKIT_USER_CONTENT_INJECT_ALL_FRAMES,
      WEBKIT_USER_SCRIPT_INJECT_AT_DOCUMENT_START, "ombrix-lockdown", nullptr, nullptr);
  webkit_user_content_manager_add_script(webkit_web_view_get_user_content_manager(view), script);
  webkit_user_script_unref(script);
}

void Lockdown::AttachWindow(GtkWindow* window) {
  if (exit_chord_.valid())
    g_signal_connect(window, "key-press-event", G_CALLBACK(OnKeyPress), this);
}

gboolean Lockdown::OnDecidePolicy(WebKitWebView*, WebKitPolicyDecision* decision,
                                  WebKitPolicyDecisionType type, gpointer self) {
  if (type != WEBKIT_POLICY_DECISION_TYPE_NAVIGATION_ACTION &&
      type != WEBKIT_POLICY_DECISION_TYPE_NEW_WINDOW_ACTION) {
    return FALSE;
  }
  WebKitNavigationAction* action = webkit_navigation_policy_decision_get_navigation_action(
      WEBKIT_NAVIGATION_POLICY_DECISION(decision));
  const char* uri = webkit_uri_request_get_uri(webkit_navigation_action_get_request(action));
  const QString url = QString::fromUtf8(uri ? uri : "");
  // A pop-up opened without an address starts blank and may be filled by its opener.
  if (url.isEmpty() || static_cast<Lockdown*>(self)->allowed_.Allows(url)) return FALSE;
  qDebug() << (type == WEBKIT_POLICY_DECISION_TYPE_NEW_WINDOW_ACTION ? "refused a pop-up to"
                                                                     : "refused navigation to")
           << LoggedOrigin(url);
  webkit_policy_decision_ignore(decision);
  return TRUE;
}

bool Lockdown::AllowsPopup(WebKitNavigationAction* action) const {
  if (!on_) return true;
  const char* uri = webkit_uri_request_get_uri(webkit_navigation_action_get_request(action));
  const QString url = QString::fromUtf8(uri ? uri : "");
  if (url.isEmpty() || allowed_.Allows(url)) return true;
  qDebug() << "refused a pop-up to" << LoggedOrigin(url);
  return false;
}

void Lockdown::OnZoomChanged(WebKitWebView* view, GParamSpec*, gpointer self) {
  const double zoom = static_cast<Lockdown*>(self)->zoom_;
  if (webkit_web_view_get_zoom_level(view) != zoom) webkit_web_view_set_zoom_level(view, zoom);
}

gboolean Lockdown::OnViewEvent(GtkWidget*, GdkEvent* event, gpointer) {
  // A touchpad's pinch never reaches the engine's own zoom.
  return event->type == GDK_TOUCHPAD_PINCH ? TRUE : FALSE;
}

bool Lockdown::IsExitChord(const GdkEventKey* event) const {
  const GdkModifierType mods =
      GdkModifierType(event->state & gtk_accelerator_get_default_mod_mask());
  KeyChord pressed;
  pressed.ctrl = mods & GDK_CONTROL_MASK;
  pressed.alt = mods & GDK_MOD1_MASK;
  pressed.shift = mods & GDK_SHIFT_MASK;
  pressed.super = mods & (GDK_SUPER_MASK | GDK_MOD4_MASK);
  pressed.key = KeyNameOf(event);
  return pressed == exit_chord_;
}

gboolean Lockdown::OnKeyPress(GtkWidget* window, GdkEventKey* event, gpointer self) {
  auto* lockdown = static_cast<Lockdown*>(self);
  if (!lockdown->IsExitChord(event)) return FALSE;  // the page gets every other key
  if (lockdown->pin_.isEmpty()) {
    qDebug() << "exit chord: the shell ends";
    lockdown->exit_();
  } else {
    lockdown->AskForPin(GTK_WINDOW(window));
  }
  return TRUE;
}

void Lockdown::AskForPin(GtkWindow* over) {
  if (pin_window_) {
    gtk_window_present(GTK_WINDOW(pin_window_));
    return;
  }
  wrong_pins_ = 0;
  pin_window_ = gtk_window_new(GTK_WINDOW_TOPLEVEL);
  GtkWindow* window = GTK_WINDOW(pin_window_);
  gtk_window_set_title(window, "Exit PIN");
  gtk_window_set_transient_for(window, over);
  gtk_window_set_modal(window, TRUE);
  KeepTopLevelAbove(window, "the exit PIN prompt above others");
  gtk_window_set_position(window, GTK_WIN_POS_CENTER_ON_PARENT);
  gtk_window_set_type_hint(window, GDK_WINDOW_TYPE_HINT_DIALOG);
  gtk_window_set_default_size(window, 320, -1);
  gtk_window_set_resizable(window, FALSE);
  GtkWidget* box = gtk_box_new(GTK_ORIENTATION_VERTICAL, 8);
  gtk_container_set_border_width(GTK_CONTAINER(box), 16);
  gtk_box_pack_start(GTK_BOX(box), gtk_label_new("Technician's PIN"), FALSE, FALSE, 0);
  GtkWidget* entry = gtk_entry_new();
  gtk_entry_set_visibility(GTK_ENTRY(entry), FALSE);
  gtk_entry_set_input_purpose(GTK_ENTRY(entry), GTK_INPUT_PURPOSE_PIN);
  gtk_entry_set_max_length(GTK_ENTRY(entry), 12);
  g_signal_connect(entry, "activate", G_CALLBACK(OnPinEntered), this);
  g_signal_connect(entry, "key-press-event", G_CALLBACK(OnPinKey), this);
  gtk_box_pack_start(GTK_BOX(box), entry, FALSE, FALSE, 0);
  gtk_container_add(GTK_CONTAINER(window), box);
  // Closed from outside, the prompt is simply gone.
  g_signal_connect(pin_window_, "destroy", G_CALLBACK(+[](GtkWidget*, gpointer self) {
                     static_cast<Lockdown*>(self)->pin_window_ = nullptr;
                   }),
                   this);
  gtk_widget_show_all(pin_window_);
  gtk_widget_grab_focus(entry);
  gtk_window_present(window);
}

gboolean Lockdown::OnPinKey(GtkWidget*, GdkEventKey* event, gpointer self) {
  if (event->keyval != GDK_KEY_Escape) return FALSE;
  static_cast<Lockdown*>(self)->ClosePinPrompt();
  return TRUE;
}

void Lockdown::OnPinEntered(GtkEntry* entry, gpointer self) {
  auto* lockdown = static_cast<Lockdown*>(self);
  if (QString::fromUtf8(gtk_entry_get_text(entry)) == lockdown->pin_) {
    qDebug() << "exit PIN accepted: the shell ends";
    lockdown->ClosePinPrompt();
    lockdown->exit_();
    return;
  }
  qDebug() << "wrong exit PIN";
  gtk_entry_set_text(entry, "");
  if (++lockdown->wrong_pins_ >= kMaxWrongPins) lockdown->ClosePinPrompt();
}

void Lockdown::ClosePinPrompt() {
  if (!pin_window_) return;
  GtkWidget* window = pin_window_;
  pin_window_ = nullptr;
  gtk_widget_destroy(window);
}

}  // namespace ombrix
