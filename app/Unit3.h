// The proxy window: whether to use a proxy, its host and port. It is
// created at start-up and lives, hidden, as long as the program; the main
// window shows it modally (F2, not during a transfer).
//
// The setting belongs to the user, not to the publisher's "DL.ini": it is
// kept in "$XDG_CONFIG_HOME/fetchlet/proxy.ini" (XDG_CONFIG_HOME unset, empty
// or relative: "~/.config"), a UTF-8 ini file of one group:
//     [Proxy]
//     Enabled=true
//     Host=proxy.example
//     Port=8080
// loaded when the window is created (a missing or unreadable file leaves
// the window as it starts: unticked, empty, "80") and written when "Ok" is
// pressed. The host may carry credentials ("user:password@host", percent-
// encoded as in a proxy URL), so the file is readable and writable by its
// owner only (0600): created so, and an existing one made so when it is
// loaded; a file that cannot be kept private is not written. "Ok" with the box ticked first checks the port (a number
// 1..65535) and the host (TProxyConfig's rules); a fault is shown in a box
// and the window stays open. Closing the window by its caption bar drops
// the edits: the fields go back to the saved setting.
//
// The edits show black on white while enabled and as the platform draws a
// disabled edit while the box is unticked.
#pragma once
#include "controls/CuteBtn.h"
#include "net/ProxyConfig.h"
#include "runtime/Classes.h"
#include "runtime/Label.h"

#include <QCheckBox>
#include <QDialog>
#include <QLineEdit>

class TForm3 : public QDialog, public TObject {
public:
    explicit TForm3(QWidget* parent = nullptr);
    ~TForm3() override;

    QCheckBox* CheckBox1;
    TLabel* Label1;
    QLineEdit* Edit1;
    TLabel* Label2;
    QLineEdit* Edit2;
    TCuteButton* CuteButton1;

    void CheckBox1Click();
    void CuteButton1Click(TObject* Sender);

    // The setting in force (loaded or last confirmed with "Ok"); the
    // download passes it to TProxyConfig::Choose. Port is 0 when the port
    // text is not a number.
    TProxySetting ProxySetting() const;
    // Where the setting is kept.
    static QString SettingsPath();
    // The close box: the fields go back to the setting in force.
    void reject() override;

protected:
    void keyPressEvent(QKeyEvent* event) override;

private:
    void LoadSettings();
    void SaveSettings();
    struct Fields {
        bool enabled = false;
        QString host;
        QString port = QStringLiteral("80");
    };
    void ShowFields(const Fields& fields);
    Fields saved_;
};

extern TForm3* Form3;
