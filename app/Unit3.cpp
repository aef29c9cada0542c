#include "app/Unit3.h"

#include "runtime/Application.h"
#include "runtime/Dialogs.h"
#include "runtime/Exceptions.h"
#include "runtime/Fonts.h"

#include <QDir>
#include <QFileInfo>
#include <QKeyEvent>
#include <QSettings>

#include <algorithm>

TForm3* Form3 = nullptr;

namespace {

constexpr TColor FormColor = 0x00EA6D53;

// Black on white while enabled; the disabled colours stay the platform's.
void blackTextEdit(QLineEdit* edit)
{
    QPalette p = edit->palette();
    for (const auto group : {QPalette::Active, QPalette::Inactive}) {
        p.setColor(group, QPalette::Text, Qt::black);
        p.setColor(group, QPalette::Base, Qt::white);
    }
    edit->setPalette(p);
}

// The port text as a number 1..65535, else 0.
int portNumber(const QString& text)
{
    bool ok = false;
    const QString trimmed = text.trimmed();
    const int port = trimmed.toInt(&ok);
    const bool digits = !trimmed.isEmpty() && std::all_of(trimmed.begin(), trimmed.end(), [](QChar c) {
        return c >= QLatin1Char('0') && c <= QLatin1Char('9');
    });
    return ok && digits && port >= 1 && port <= 65535 ? port : 0;
}

// The file may hold a password ("user:password@host" as the host): it is
// kept readable and writable by its owner only.
constexpr QFileDevice::Permissions OwnerOnly = QFileDevice::ReadOwner | QFileDevice::WriteOwner;

bool ownerOnly(const QString& path)
{
    const QFileDevice::Permissions all = QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner |
                                         QFileDevice::ReadGroup | QFileDevice::WriteGroup | QFileDevice::ExeGroup |
                                         QFileDevice::ReadOther | QFileDevice::WriteOther | QFileDevice::ExeOther;
    return (QFile::permissions(path) & all) == OwnerOnly || QFile::setPermissions(path, OwnerOnly);
}

} // namespace

TForm3::TForm3(QWidget* parent) : QDialog(parent)
{
    Form3 = this;
    setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                   Qt::WindowCloseButtonHint);
    setWindowTitle(QStringLiteral("プロキシ"));
    setFixedSize(313, 129);
    move(192, 131);
    setAutoFillBackground(true);
    QPalette pal = palette();
    pal.setColor(QPalette::Window, QColor::fromRgb(ColorToArgb(FormColor)));
    pal.setColor(QPalette::WindowText, Qt::white);
    setPalette(pal);
    setFont(FormFont(12));

    CheckBox1 = new QCheckBox(QStringLiteral("プロキシを利用する"), this);
    CheckBox1->setGeometry(16, 16, 185, 17);
    Label1 = new TLabel(QStringLiteral("プロキシサーバー"), this);
    Label1->SetFont(FormFont(12));
    Label1->SetFontColor(clWhite);
    Label1->move(16, 48);
    Edit1 = new QLineEdit(this);
    Edit1->setGeometry(16, 64, 169, 20);
    Edit1->setEnabled(false);
    blackTextEdit(Edit1);
    Label2 = new TLabel(QStringLiteral("ポート"), this);
    Label2->SetFont(FormFont(12));
    Label2->SetFontColor(clWhite);
    Label2->move(200, 48);
    Edit2 = new QLineEdit(QStringLiteral("80"), this);
    Edit2->setGeometry(200, 64, 97, 20);
    Edit2->setEnabled(false);
    blackTextEdit(Edit2);
    CuteButton1 = new TCuteButton(this);
    CuteButton1->SetBounds(232, 96, 75, 25);
    CuteButton1->SetCaption(QStringLiteral("Ok"));
    CuteButton1->SetFont(FormFont(12));
    CuteButton1->SetFontColor(clBlack);
    CuteButton1->SetFlat(false);
    CuteButton1->SetShowFocusRect(false);
    CuteButton1->SetUseDisabledColor(false);
    CuteButton1->SetEgnoreContClick(false);

    Label1->setBuddy(Edit1); // the names assistive technology reads
    Label2->setBuddy(Edit2);

    connect(CheckBox1, &QCheckBox::toggled, this, [this] { Guarded([this] { CheckBox1Click(); }); });
    CuteButton1->OnClick = [this](TObject* sender) { CuteButton1Click(sender); };
    LoadSettings();
}

TForm3::~TForm3()
{
    if (Form3 == this)
        Form3 = nullptr;
}

void TForm3::CheckBox1Click()
{
    const bool on = CheckBox1->isChecked();
    Edit1->setEnabled(on);
    Edit2->setEnabled(on);
}

void TForm3::CuteButton1Click(TObject*)
{
    Fields typed{CheckBox1->isChecked(), Edit1->text().trimmed(), Edit2->text().trimmed()};
    if (typed.enabled) {
        const int port = portNumber(typed.port);
        QString fault;
        if (port == 0)
            fault = QStringLiteral("ポート番号は 1 から 65535 までの数で入力してください");
        else if (const auto choice = TProxyConfig::FromSetting({true, typed.host.toStdString(), port}); !choice.Ok())
            fault = QString::fromStdString(choice.Error);
        if (!fault.isEmpty()) {
            Beep();
            ShowMessageBox(fault);
            return;
        }
    }
    const Fields before = saved_;
    saved_ = typed;
    try {
        SaveSettings();
    } catch (...) {
        saved_ = before;
        throw;
    }
    close();
}

TProxySetting TForm3::ProxySetting() const
{
    return {saved_.enabled, saved_.host.toStdString(), portNumber(saved_.port)};
}

QString TForm3::SettingsPath()
{
    QString base = qEnvironmentVariable("XDG_CONFIG_HOME");
    if (base.isEmpty() || QDir::isRelativePath(base))
        base = QDir::homePath() + QStringLiteral("/.config");
    return base + QStringLiteral("/fetchlet/proxy.ini");
}

void TForm3::LoadSettings()
{
    // A file written before it was kept private is made so now.
    if (QFileInfo::exists(SettingsPath()))
        ownerOnly(SettingsPath());
    QSettings file(SettingsPath(), QSettings::IniFormat);
    Fields loaded;
    loaded.enabled = file.value(QStringLiteral("Proxy/Enabled"), false).toBool();
    loaded.host = file.value(QStringLiteral("Proxy/Host")).toString().trimmed();
    loaded.port = file.value(QStringLiteral("Proxy/Port"), QStringLiteral("80")).toString().trimmed();
    saved_ = loaded;
    ShowFields(saved_);
}

void TForm3::SaveSettings()
{
    const QString path = SettingsPath();
    QDir().mkpath(QFileInfo(path).absolutePath());
    // Private before anything is written to it: QSettings replaces the file
    // by a new one with the old one's permissions.
    if (!QFileInfo::exists(path)) {
        QFile created(path);
        created.open(QIODevice::WriteOnly | QIODevice::NewOnly, OwnerOnly);
    }
    bool saved = QFileInfo::exists(path) && ownerOnly(path);
    if (saved) {
        QSettings file(path, QSettings::IniFormat);
        file.setValue(QStringLiteral("Proxy/Enabled"), saved_.enabled);
        file.setValue(QStringLiteral("Proxy/Host"), saved_.host);
        file.setValue(QStringLiteral("Proxy/Port"), saved_.port);
        file.sync();
        saved = file.status() == QSettings::NoError && ownerOnly(path);
    }
    if (!saved)
        throw Exception((QStringLiteral("プロキシの設定を ") + path + QStringLiteral(" に保存できません")).toStdString());
}

void TForm3::ShowFields(const Fields& fields)
{
    CheckBox1->setChecked(fields.enabled);
    Edit1->setText(fields.host);
    Edit2->setText(fields.port);
    CheckBox1Click();
}

void TForm3::reject()
{
    ShowFields(saved_);
    QDialog::reject();
}

void TForm3::keyPressEvent(QKeyEvent* event)
{
    if (event->key() == Qt::Key_Escape) {
        event->accept();
        return;
    }
    QDialog::keyPressEvent(event);
}
