// Global shortcuts through the desktop's portal (org.freedesktop.portal.GlobalShortcuts). In a
// Wayland session X key grabs see keys only while an X window has the focus; the portal lets
// the desktop bind the shortcuts (usually after asking the user) and report each activation.
//
// One session per program: the shortcuts asked for in one turn of the event loop are bound
// together. Everything after the first availability check is asynchronous.
//
// The program names itself by its application id first (the portal's host registry), so that
// the desktop keeps its shortcuts under that name. After CreateSession it asks what the
// desktop already holds (ListShortcuts) and binds only when a shortcut is missing: desktops
// open their settings (Plasma 6) or a dialog (GNOME) for each bind, which the user should see
// once, not at every login. The shortcuts listed with a key decide what is bound, whatever
// the answer's code (GNOME answers 2 after the user added them); ShortcutsChanged reports the
// user's later choice. A bind request stays open for as long as the desktop's dialog waits.
//
// Desktops speak two forms of the interface. The current one binds what BindShortcuts lists;
// the early one (KDE Plasma 5.27) registers only the shortcuts given in CreateSession's options
// and names its shortcut group after the session token. Both get the list, and the token is
// the same in every run, so that a key the user assigned stays with the program. When the
// keys are not set the user is told once, with what to do on that desktop: where a shortcut
// has no key, where to assign one (on KDE also a shortcut its global shortcuts service holds
// without an active key, whatever the answer said); a declined dialog or a refusal, how to bind
// the volume commands instead; without the program's desktop file, that it is missing. An
// activation of a keyless shortcut still counts, since the desktop may send one once the user
// has assigned a key. A restarted portal is named to again and gets a new session.
//
// The bus itself may go (its daemon restarted, a sandbox's proxy gone): that is told once, the
// program connects again as soon as the bus is back and asks the portal there as at the start.
// Only the first check (before the event loop runs) waits for answers, for 10 s at most; every
// later call is asynchronous, with a time limit, so a portal that never answers stops nothing.
#pragma once

#include <QDBusConnection>
#include <QDBusServiceWatcher>
#include <QObject>
#include <QString>
#include <QTimer>
#include <QVariantMap>
#include <cstdint>
#include <functional>
#include <map>
#include <set>
#include <string>

#include "platform/texts.h"

class QDBusMessage;
class QDBusObjectPath;

namespace vexlo::linux_platform {

class PortalShortcuts : public QObject, public UsesTexts {
    Q_OBJECT

  public:
    using Activated = std::function<void(int id)>;
    using Report = std::function<void(const std::string& text)>;

    // True in a Wayland session: WAYLAND_DISPLAY set or XDG_SESSION_TYPE=wayland.
    static bool WaylandSession();
    // The default report: the reason on stderr, in English.
    static void ReportOnStderr(const std::string& text);
    // The reason on stderr in the language of `texts`.
    static void TellOnStderr(const Texts& texts, const std::string& text);
    // The portal's trigger for MOD_* modifiers and a virtual-key code ("LOGO+equal",
    // "CTRL+ALT+Page_Up"); empty when the key has no name there.
    static std::string TriggerFor(std::uint32_t modifiers, std::uint32_t virtualKey);

    // busAddress empty: the session bus. report says, once, why the hotkeys are not bound
    // (a clause: "the desktop's shortcut dialog was declined"), or which have no key yet.
    explicit PortalShortcuts(QString busAddress = QString(), Report report = ReportOnStderr);
    ~PortalShortcuts() override;
    PortalShortcuts(const PortalShortcuts&) = delete;
    PortalShortcuts& operator=(const PortalShortcuts&) = delete;

    void setActivated(Activated activated) { activated_ = std::move(activated); }
    void setReport(Report report) { report_ = std::move(report); }

    // True when the portal offers GlobalShortcuts. Asked once; before that the program
    // registers itself with the portal's host app registry. When the portal is missing this
    // is reported.
    bool available();
    // Asks the desktop for the shortcut of a hotkey id (HOTKEY_UP / HOTKEY_DOWN are "volume
    // up" / "volume down") with the preferred trigger. The answer comes later.
    void bind(int id, const std::string& trigger);
    // Activations of the id are ignored from now on; with none left the session is closed.
    void release(int id);

    // What the desktop has answered, for the program's own checks and the tests: bound with a
    // key, and whether something was reported.
    bool bound(int id) const { return bound_.count(id) != 0; }
    bool failed() const { return reported_; }
    // Where the user assigns keys to global shortcuts, for the report; desktop is
    // XDG_CURRENT_DESKTOP ("KDE", "ubuntu:GNOME").
    static std::string SettingsPlace(const Texts& texts, const std::string& desktop);

  private slots:
    void onSessionResponse(uint response, const QVariantMap& results);
    void onListResponse(uint response, const QVariantMap& results);
    void onBindResponse(uint response, const QVariantMap& results);
    void onShortcutsChanged(const QDBusMessage& message);
    void onActivated(const QDBusObjectPath& session, const QString& shortcut, qulonglong timestamp,
                     const QVariantMap& options);
    void onPortalOwner(const QString& service, const QString& oldOwner, const QString& newOwner);

  private:
    // Names the program to the portal by its application id, then calls then; remembers a
    // refusal.
    void registerApp(std::function<void()> then);
    QDBusMessage registration() const;
    void tookRegistration(const QDBusMessage& reply);
    // Looks at the connection; once it has broken, tells so and connects again.
    void checkBus();
    void reconnected();
    void createSession();
    void listShortcuts();
    void bindWanted();
    // Takes what the desktop lists (shortcut name -> has a key) as bound, and tells once about
    // the rest.
    void judge(const std::map<QString, bool>& listed);
    // On KDE, asks its global shortcuts service which of withKey have no active key after all,
    // then tells those and withoutKey.
    void checkActiveKeys(const std::set<int>& withKey, std::set<int> withoutKey);
    void askComponent(std::size_t candidate, const std::set<int>& withKey,
                      std::set<int> withoutKey);
    // Tells, once, which of ids the desktop gave no key.
    void reportWithoutKey(const std::set<int>& ids);
    // Forgets the session and any unanswered request of a portal that is gone.
    void dropSession();
    void fail(const std::string& text);
    // Tells why the keys are not set: why (ending in "; " or ", or ") and how to bind the
    // volume commands instead, or that the program's desktop file is missing.
    void failUnbound(const std::string& text);
    QString requestPath(const QString& token) const;
    QString nextToken();
    // Calls method of GlobalShortcuts; the reply's request handle is watched for Response.
    void request(const QString& method, const QList<QVariant>& args, const QString& token,
                 const char* slot);

    QString busAddress_;
    QDBusConnection bus_;
    Report report_;
    Activated activated_;
    QDBusServiceWatcher portalWatcher_;
    QString portalOwner_;  // the unique name the session belongs to
    QTimer busCheck_;      // while the portal is used: is the connection still there
    bool busGone_ = false;
    int checked_ = 0;  // 0 not yet asked, 1 available, -1 not
    bool reported_ = false;
    bool starting_ = false;
    bool creating_ = false;
    bool retried_ = false;       // the session was refused once
    bool busy_ = false;          // a ListShortcuts or BindShortcuts request is unanswered
    bool again_ = false;         // a shortcut was asked for meanwhile
    bool unregistered_ = false;  // the portal knows no application of the program's id
    QString session_;
    QString watchedRequest_;
    std::map<int, std::string> wanted_;  // ids asked for and not released, with their triggers
    std::set<int> bound_;                // ids the desktop bound
    int serial_ = 0;
    int generation_ = 0;  // counts sessions dropped; late answers of older ones are ignored
};

}  // namespace vexlo::linux_platform
