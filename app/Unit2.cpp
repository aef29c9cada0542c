#include "app/Unit2.h"

#include "app/SettingsFile.h"
#include "app/Unit1.h"
#include "archive/ARCHIVES.h"
#include "integrity/CrcListComp.h"
#include "integrity/Sha256Pin.h"
#include "integrity/StreamDigest.h"
#include "platform/Cp932.h"
#include "platform/FileNames.h"
#include "runtime/Application.h"
#include "runtime/Dialogs.h"
#include "runtime/Fonts.h"
#include "runtime/Picture.h"
#include "runtime/SysUtils.h"

#include <QFile>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QScreen>
#include <QSignalBlocker>
#include <QTimer>
#include <QWindow>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <unistd.h>

TForm2* Form2 = nullptr;

namespace {

constexpr TColor FormColor = 0x00EA6D53;

QString q(const std::string& s) { return QString::fromStdString(s); }
std::string s(const QString& q) { return q.toStdString(); }

void styleEdit(QLineEdit* edit)
{
    QPalette p = edit->palette();
    p.setColor(QPalette::Base, QColor::fromRgb(ColorToArgb(FormColor)));
    p.setColor(QPalette::Text, Qt::white);
    edit->setPalette(p);
}

TCuteButton* makeButton(QWidget* parent, const QString& caption, int left, int top, int width, TColor color,
                        TColor fontColor)
{
    auto* b = new TCuteButton(parent);
    b->SetBounds(left, top, width, 25);
    b->SetCaption(caption);
    b->SetColor(color);
    b->SetFont(FormFont(12));
    b->SetFontColor(fontColor);
    b->SetFlat(false);
    b->SetShowFocusRect(false);
    b->SetUseDisabledColor(false);
    b->SetEgnoreContClick(false);
    return b;
}

TLabel* makeLabel(QWidget* parent, const QString& caption, int left, int top)
{
    auto* l = new TLabel(caption, parent);
    l->SetFont(FormFont(12));
    l->SetFontColor(clWhite);
    l->move(left, top);
    return l;
}

QImage builtInIcon()
{
    TForm1::RegisterPictures();
    QFile file(QStringLiteral(":/resources/icon.ico"));
    if (!file.open(QIODevice::ReadOnly))
        return QImage();
    QImage image;
    image.loadFromData(file.readAll(), "ICO");
    return image;
}

} // namespace

TForm2::TForm2(QWidget* parent) : QDialog(parent)
{
    Form2 = this;
    setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                   Qt::WindowCloseButtonHint);
    setWindowTitle(QStringLiteral("設定"));
    setFixedSize(430, 542);
    setModal(true);
    setAutoFillBackground(true);
    QPalette pal = palette();
    pal.setColor(QPalette::Window, QColor::fromRgb(ColorToArgb(FormColor)));
    pal.setColor(QPalette::WindowText, Qt::white);
    pal.setColor(QPalette::Base, QColor::fromRgb(ColorToArgb(FormColor)));
    pal.setColor(QPalette::Text, Qt::white);
    pal.setColor(QPalette::ButtonText, Qt::white);
    setPalette(pal);
    setFont(FormFont(12));
    // Group boxes: a thin etched frame with the caption on its top line.
    setStyleSheet(QStringLiteral("QGroupBox { border: 1px solid rgba(255,255,255,150); border-radius: 2px;"
                                 " margin-top: 6px; }"
                                 "QListWidget, QComboBox, QLineEdit { background-color: #536DEA; color: white; }"
                                 "QGroupBox::title { subcontrol-origin: margin; left: 7px; padding: 0 2px; }"));

    Label1 = makeLabel(this, QStringLiteral("Skin替え"), 8, 8);
    FileListBox1 = new TFileListBox(QStringLiteral("*.bmp;*.jpg;*.jpeg"), this);
    FileListBox1->setGeometry(8, 24, 169, 145);
    FileListBox1->SetItemHeight(12);
    Skin_Label = makeLabel(this, QStringLiteral("なし"), 8, 168);

    GroupBox1 = new QGroupBox(QStringLiteral("ボタンの設定"), this);
    GroupBox1->setGeometry(184, 8, 241, 81);
    ButtonColor = makeButton(GroupBox1, QStringLiteral("色"), 8, 16, 33, 0x001A479B, clWhite);
    Label3 = makeLabel(GroupBox1, QStringLiteral("ボタンの文字"), 64, 16);
    Button_moji_Edit = new QLineEdit(QStringLiteral("DownLoad"), GroupBox1);
    Button_moji_Edit->setGeometry(64, 32, 161, 20);
    Button_Font_Color = makeButton(GroupBox1, QStringLiteral("文字色"), 8, 48, 49, 0x00C1FDFC, clBlack);

    Label4 = makeLabel(this, QStringLiteral("タイトルバーの文字"), 184, 96);
    Form_Caption_Edit = new QLineEdit(QStringLiteral("Fetchlet"), this);
    Form_Caption_Edit->setGeometry(184, 112, 241, 20);
    ICO_Image = new TImage(this);
    ICO_Image->setGeometry(200, 136, 32, 32);
    ICO_Image->SetPicture(builtInIcon());
    FileListBox2 = new TFileListBox(QStringLiteral("*.ico"), this);
    FileListBox2->setGeometry(240, 136, 137, 33);

    Label2 = makeLabel(this, QStringLiteral("ファイルのＵＲＬ（間違いないようにね☆）"), 8, 192);
    URL_Edit = new QLineEdit(QStringLiteral("http://"), this);
    URL_Edit->setGeometry(8, 216, 417, 20);
    PASS_CheckBox = new QCheckBox(QStringLiteral("パスワードを求める"), this);
    PASS_CheckBox->setGeometry(8, 248, 137, 17);
    pass_Edit = new QLineEdit(QStringLiteral("wren"), this);
    pass_Edit->setGeometry(8, 272, 121, 20);
    LZH_CheckBox = new QCheckBox(QStringLiteral("ダウンロード終了後に自動で解凍する（lzh,zip,cab,rar)"), this);
    // The form gives 289 pixels; with the substitute font the caption needs
    // a few more, so the box is as wide as its caption (the text is shown
    // whole rather than cut).
    LZH_CheckBox->setGeometry(8, 304, std::max(289, LZH_CheckBox->sizeHint().width()), 17);
    LZH_CheckBox->setChecked(true);

    GroupBox2 = new QGroupBox(QStringLiteral("ファイルの容量と壊れてないかを調べるＣＲＣの獲得"), this);
    GroupBox2->setGeometry(8, 336, 321, 73);
    Label5 = makeLabel(GroupBox2, QStringLiteral("ダウンロードするファイルを選択してください"), 8, 16);
    CRC_label = makeLabel(GroupBox2, QStringLiteral("CRC"), 16, 40);
    youryou_label = makeLabel(GroupBox2, QStringLiteral("容量"), 16, 56);
    // Beside the group: its own column, clear of every control of the form.
    SHA256_label = makeLabel(this, QStringLiteral("SHA-256"), 336, 344);
    {
        QFont mono = FormFont(12);
        mono.setFamily(QStringLiteral("DejaVu Sans Mono"));
        mono.setStyleHint(QFont::Monospace);
        mono.setPixelSize(11);
        SHA256_label->SetFont(mono);
    }
    Button2 = new QPushButton(QStringLiteral("ファイルのチェック"), GroupBox2);
    Button2->setGeometry(142, 40, 171, 25);
    Button2->setAutoDefault(false);
    {
        // A standard push button keeps the platform's look, not the form's.
        QPalette bp = Button2->palette();
        bp.setColor(QPalette::ButtonText, Qt::black);
        bp.setColor(QPalette::Button, QColor::fromRgb(ColorToArgb(clBtnFace)));
        Button2->setPalette(bp);
    }

    GroupBox3 = new QGroupBox(QStringLiteral("ダウンロード状況表示の設定"), this);
    GroupBox3->setGeometry(8, 416, 305, 65);
    Label6 = makeLabel(GroupBox3, QStringLiteral("ゲージのタイプ"), 176, 16);
    DL_moji_Color = makeButton(GroupBox3, QStringLiteral("文字の色"), 8, 24, 73, 0x00FFFFFF, clBlack);
    Gauge_Color = makeButton(GroupBox3, QStringLiteral("ゲージの色"), 88, 24, 73, 0x00629BE8, clWhite);
    Gauge_ComboBox = new QComboBox(GroupBox3);
    Gauge_ComboBox->setEditable(true);
    Gauge_ComboBox->setGeometry(176, 32, 89, 20);
    Gauge_ComboBox->addItems({QStringLiteral("タイプＡ"), QStringLiteral("タイプＢ"), QStringLiteral("タイプＣ"),
                              QStringLiteral("タイプＤ"), QStringLiteral("タイプＥ")});
    Gauge_ComboBox->setInsertPolicy(QComboBox::NoInsert);
    Gauge_ComboBox->setEditText(QStringLiteral("タイプA"));

    CuteButton2 = makeButton(this, QStringLiteral("初期化"), 8, 512, 75, clBtnFace, clBlack);
    CuteButton1 = makeButton(this, QStringLiteral("閉じる"), 344, 512, 75, clBtnFace, clBlack);

    for (QLineEdit* edit : {Button_moji_Edit, Form_Caption_Edit, URL_Edit, pass_Edit})
        styleEdit(edit);

    // What assistive technology names the fields by: the label above each,
    // and a name of its own where none is (the icon list, the password).
    Label1->setBuddy(FileListBox1);
    FileListBox1->setAccessibleName(Label1->Caption()); // a list takes no name from its buddy
    Label3->setBuddy(Button_moji_Edit);
    Label4->setBuddy(Form_Caption_Edit);
    FileListBox2->setAccessibleName(QStringLiteral("アイコン"));
    Label2->setBuddy(URL_Edit);
    pass_Edit->setAccessibleName(QStringLiteral("パスワード"));
    Label6->setBuddy(Gauge_ComboBox);

    CRCList1 = std::make_unique<TCRCList>(nullptr);

    FileListBox1->OnClick = [this] { FileListBox1Click(); };
    FileListBox2->OnClick = [this] { FileListBox2Click(); };
    connect(Button_moji_Edit, &QLineEdit::textChanged, this, [this] { Guarded([this] { Button_moji_EditChange(); }); });
    connect(Form_Caption_Edit, &QLineEdit::textChanged, this,
            [this] { Guarded([this] { Form_Caption_EditChange(); }); });
    connect(PASS_CheckBox, &QCheckBox::toggled, this, [this] { Guarded([this] { PASS_CheckBoxClick(); }); });
    connect(Gauge_ComboBox, &QComboBox::currentTextChanged, this,
            [this] { Guarded([this] { Gauge_ComboBoxChange(); }); });
    connect(Button2, &QPushButton::clicked, this, [this] { Guarded([this] { Button2Click(); }); });
    for (TCuteButton* b : {ButtonColor, Button_Font_Color, DL_moji_Color, Gauge_Color})
        b->OnClick = [this](TObject* sender) { ButtonColorClick(sender); };
    CuteButton1->OnClick = [this](TObject* sender) { CuteButton1Click(sender); };
    CuteButton2->OnClick = [this](TObject* sender) { CuteButton2Click(sender); };

    Guarded([this] { FormCreate(); });
}

TForm2::~TForm2()
{
    if (Form2 == this)
        Form2 = nullptr;
}

void TForm2::FormCreate()
{
    TForm1& main = *Form1;
    // The pin of the working folder, when there is one.
    {
        QFile pinFile(QString::fromStdString(ResolveName(main.Work_Dir, "DL.sha256")));
        if (pinFile.open(QIODevice::ReadOnly) && pinFile.size() < 65536) {
            const QByteArray text = pinFile.readAll();
            if (const auto pin = TSha256Pin::Parse(std::string_view(text.constData(), static_cast<std::size_t>(text.size()))))
                SHA256_label->SetCaption(Sha256Text(TSha256Pin::Hex(pin->Digest.data(), pin->Digest.size())));
        }
    }
    const std::string iniPath = ResolveName(main.Work_Dir, "DL.ini");
    if (!FileExists(iniPath))
        return;
    // Unscrambled in memory only: the settings never reach the disk in
    // plain form (no "DL2.ini").
    main.Settei_ListBox = DecodeSettings(ReadWholeFile(iniPath));
    const TStringList& lines = main.Settei_ListBox;

    Skin_Label->SetCaption(q(lines[0]));
    Button_moji_Edit->setText(q(lines[1]));
    ButtonColor->SetColor(StrToInt(lines[2]));
    Button_Font_Color->SetColor(StrToInt(lines[3]));
    Form_Caption_Edit->setText(q(lines[4]));
    main.ICO_File = lines[5];
    URL_Edit->setText(q(lines[6]));
    PASS_CheckBox->setChecked(lines[7] == "true");
    pass_Edit->setText(q(lines[8]));
    LZH_CheckBox->setChecked(lines[9] == "true");
    main.Check_CRC = lines[10];
    main.Size_KB = StrToInt(lines[11]);
    DL_moji_Color->SetColor(StrToInt(lines[12]));
    Gauge_Color->SetColor(StrToInt(lines[13]));
    {
        // The gauge type is applied once, at the end of the load.
        const QSignalBlocker quiet(Gauge_ComboBox);
        Gauge_ComboBox->setEditText(q(lines[14]));
    }

    if (Skin_Label->Caption() != QStringLiteral("なし"))
        main.Image1->SetPicture(LoadPictureFile(ResolvePath(main.Work_Dir, "Dskin/" + s(Skin_Label->Caption()))));

    main.CuteButton1->SetColor(ButtonColor->Color());
    main.CuteButton2->SetColor(ButtonColor->Color());
    main.CuteButton1->SetFontColor(Button_Font_Color->Color());
    main.CuteButton2->SetFontColor(Button_Font_Color->Color());
    main.CuteButton1->SetCaption(Button_moji_Edit->text());

    main.SetCaption(Form_Caption_Edit->text());
    Application().SetTitle(main.Caption());

    if (!main.ICO_File.empty()) {
        const QImage icon = LoadIconFile(ResolvePath(main.Work_Dir, "Dskin/" + main.ICO_File));
        ICO_Image->SetPicture(icon);
        Application().SetIcon(QIcon(QPixmap::fromImage(icon)));
    }

    if (!main.Check_CRC.empty())
        CRC_label->SetCaption(QStringLiteral("CRC  ") + q(main.Check_CRC));

    if (main.Size_KB != 0) {
        youryou_label->SetCaption(QStringLiteral("容量  ") + QString::number(main.Size_KB) + QStringLiteral("Kbyte"));
        main.Label2->SetCaption(QStringLiteral("ファイル容量は") + QString::number(main.Size_KB) +
                                QStringLiteral("Kbyteです"));
    } else {
        main.Size_Unknown = true;
        main.Label2->SetCaption(QString());
    }

    main.Label2->SetFontColor(DL_moji_Color->Color());
    main.Label1->SetFontColor(DL_moji_Color->Color());

    main.Gauge1->SetForeColor(Gauge_Color->Color());
    Gauge_ComboBoxChange();
}

void TForm2::showEvent(QShowEvent* event)
{
    QDialog::showEvent(event);
    Guarded([this] { FormShow(); });
}

void TForm2::FormShow()
{
    const std::string skinFolder = ResolveName(Form1->Work_Dir, "DSkin");
    FileListBox1->SetDirectory(skinFolder);
    FileListBox2->SetDirectory(skinFolder);
    PlaceTopRight();
    // The frame is known only once the window is on the screen.
    QTimer::singleShot(0, this, [this] { Guarded([this] { PlaceTopRight(); }); });
}

void TForm2::PlaceTopRight()
{
    const QScreen* screen = this->screen() ? this->screen() : QGuiApplication::primaryScreen();
    const int screenWidth = screen ? screen->geometry().width() : 0;
    move(screenWidth - frameGeometry().width(), 0);
}

void TForm2::FileListBox1Click()
{
    const QString name = FileListBox1->FileName();
    Skin_Label->SetCaption(name);
    Form1->Image1->SetPicture(LoadPictureFile(s(name)));
}

void TForm2::FileListBox2Click()
{
    const QString name = FileListBox2->FileName();
    const QImage icon = LoadIconFile(s(name));
    ICO_Image->SetPicture(icon);
    Form1->ICO_File = s(name);
    Application().SetIcon(QIcon(QPixmap::fromImage(icon)));
}

void TForm2::Button_moji_EditChange()
{
    Form1->CuteButton1->SetCaption(Button_moji_Edit->text());
}

void TForm2::Form_Caption_EditChange()
{
    Form1->SetCaption(Form_Caption_Edit->text());
    Application().SetTitle(Form1->Caption());
}

void TForm2::PASS_CheckBoxClick()
{
    pass_Edit->setEnabled(PASS_CheckBox->isChecked());
}

void TForm2::ButtonColorClick(TObject* Sender)
{
    auto* button = dynamic_cast<TCuteButton*>(Sender);
    if (!button)
        return;
    const QString caption = button->Caption();
    TForm1& main = *Form1;
    auto choose = [this](TColor& color) {
        TColor chosen = LastDialogColor;
        if (!ChooseColor(chosen))
            return false;
        LastDialogColor = chosen;
        color = chosen;
        return true;
    };
    TColor color;
    if (caption == QStringLiteral("色")) {
        if (choose(color)) {
            ButtonColor->SetColor(color);
            main.CuteButton1->SetColor(color);
            main.CuteButton2->SetColor(color);
        }
    } else if (caption == QStringLiteral("文字色")) {
        if (choose(color)) {
            Button_Font_Color->SetColor(color);
            main.CuteButton1->SetFontColor(color);
            main.CuteButton2->SetFontColor(color);
        }
    } else if (caption == QStringLiteral("文字の色")) {
        if (choose(color)) {
            DL_moji_Color->SetColor(color);
            main.Label2->SetFontColor(color);
            main.Label1->SetFontColor(color);
        }
    } else if (caption == QStringLiteral("ゲージの色")) {
        if (choose(color)) {
            Gauge_Color->SetColor(color);
            main.Gauge1->SetForeColor(color);
        }
    }
}

void TForm2::Gauge_ComboBoxChange()
{
    const QString text = Gauge_ComboBox->currentText();
    TGauge* gauge = Form1->Gauge1;
    if (text == QStringLiteral("タイプＡ"))
        gauge->SetKind(gkHorizontalBar);
    else if (text == QStringLiteral("タイプＢ"))
        gauge->SetKind(gkNeedle);
    else if (text == QStringLiteral("タイプＣ"))
        gauge->SetKind(gkPie);
    else if (text == QStringLiteral("タイプＤ"))
        gauge->SetKind(gkText);
    else if (text == QStringLiteral("タイプＥ"))
        gauge->SetKind(gkVerticalBar);
}

const QString TForm2::OpenDialog2Filter = QStringLiteral("ダウンロードするファイル(*.*)|*.*");
const QString TForm2::OpenDialog2Title = QStringLiteral("DownLoadするファイルをチェック");

void TForm2::Button2Click()
{
    QString chosen;
    if (!ChooseOpenFile(OpenDialog2Filter, OpenDialog2Title, chosen))
        return;
    const std::string path = s(chosen);
    CRCList1->Files.Clear();
    CRCList1->Files.Add(path);
    CRCList1->Execute();
    CRC_label->SetCaption(QStringLiteral("CRC  ") + q(CRCList1->CRCText));
    Form1->Check_CRC = CRCList1->CRCText;
    const std::int64_t size = FileSizeOf(path);
    const std::int32_t kbytes = size < 0 ? 0 : static_cast<std::int32_t>(size / 1024);
    Form1->Size_KB = kbytes;
    youryou_label->SetCaption(QStringLiteral("容量  ") + QString::number(kbytes) + QStringLiteral("Kbyte"));
    Form1->Label2->SetCaption(QStringLiteral("ファイル容量は") + QString::number(kbytes) + QStringLiteral("Kbyteです"));
    // The SHA-256, for the pin the save writes.
    measuredSha256_.reset();
    measuredName_ = path.substr(path.rfind('/') + 1);
    if (!CRCList1->CRCText.empty() && size >= 0) {
        TStreamDigest digest(TStreamDigest::dkSha256);
        digest.Restart(path, size);
        const TStreamDigest::TResult result = digest.Finish();
        if (result.Ok)
            measuredSha256_ = result.Sha256;
    }
    SHA256_label->SetCaption(
        Sha256Text(measuredSha256_ ? TSha256Pin::Hex(measuredSha256_->data(), measuredSha256_->size()) : std::string()));
}

QString TForm2::Sha256Text(const std::string& hex)
{
    QString text = QStringLiteral("SHA-256");
    for (std::size_t at = 0; at < hex.size(); at += 8)
        text += QLatin1Char('\n') + QString::fromStdString(hex.substr(at, 8));
    return text;
}

void TForm2::SavePin()
{
    const std::string path = ResolveName(Form1->Work_Dir, "DL.sha256");
    if (Form1->Check_CRC.empty()) {
        if (::unlink(path.c_str()) != 0 && errno != ENOENT)
            throw Exception("ファイル " + path + " を削除できません (" + std::strerror(errno) + ")");
        return;
    }
    if (!measuredSha256_)
        return; // no new check: the pin there is stays
    // The name the download gives the file; the checked file's own name
    // where the address gives none.
    std::string name = TForm1::LocalFileName(s(URL_Edit->text()));
    if (name.empty())
        name = measuredName_;
    if (!ReplaceFileWith(path, TSha256Pin::Line(*measuredSha256_, name), 0644))
        throw Exception("ファイル " + path + " を保存できません (" + std::strerror(errno) + ")");
}

void TForm2::CuteButton1Click(TObject*)
{
    TForm1& main = *Form1;
    // Extraction of a file that is no archive would end every end user's
    // good download in a failure: the publisher decides.
    const std::string name = TForm1::LocalFileName(s(URL_Edit->text()));
    if (LZH_CheckBox->isChecked() && !name.empty() && ArchiverTypeByName(name) == atNone &&
        ConfirmYesNo(QStringLiteral("確認"),
                     QStringLiteral("「") + q(name) +
                         QStringLiteral("」は解凍できる書庫の名前ではありません"
                                        " (lzh, zip, cab, arj, tar, gz, tgz, bz2, rar, gza, bza, exe)。\n"
                                        "ダウンロード終了後に自動で解凍する設定を外しますか？")))
        LZH_CheckBox->setChecked(false);
    TStringList& lines = main.Settei_ListBox;
    lines.Clear();
    lines.Add(s(Skin_Label->Caption()));
    lines.Add(s(Button_moji_Edit->text()));
    lines.Add(IntToStr(ButtonColor->Color()));
    lines.Add(IntToStr(Button_Font_Color->Color()));
    lines.Add(s(Form_Caption_Edit->text()));
    lines.Add(main.ICO_File);
    lines.Add(s(URL_Edit->text()));
    lines.Add(PASS_CheckBox->isChecked() ? "true" : "false");
    lines.Add(s(pass_Edit->text()));
    lines.Add(LZH_CheckBox->isChecked() ? "true" : "false");
    lines.Add(main.Check_CRC);
    lines.Add(IntToStr(main.Size_KB));
    lines.Add(IntToStr(DL_moji_Color->Color()));
    lines.Add(IntToStr(Gauge_Color->Color()));
    lines.Add(s(Gauge_ComboBox->currentText()));
    SaveSettingsFile(ResolveName(main.Work_Dir, "DL.ini"), EncodeSettings(lines));
    SavePin();
    accept();
}

void TForm2::CuteButton2Click(TObject*)
{
    if (!ConfirmYesNo(QStringLiteral("確認"), QStringLiteral("設定を初期化しますか？")))
        return;
    Beep();
    ShowMessageBox(QStringLiteral("設定を初期化するために一度ソフトを閉じます"));
    const std::string iniPath = ResolveName(Form1->Work_Dir, "DL.ini");
    if (FileExists(iniPath))
        DeleteFile(iniPath);
    Application().Terminate();
}

void TForm2::mousePressEvent(QMouseEvent* event)
{
    // A press on a free spot of the window moves it, as if the caption bar
    // had been grabbed.
    if (event->button() == Qt::LeftButton && windowHandle())
        windowHandle()->startSystemMove();
    QDialog::mousePressEvent(event);
}

void TForm2::keyPressEvent(QKeyEvent* event)
{
    // Escape does not close the window; only its buttons and the caption
    // bar's close box do.
    if (event->key() == Qt::Key_Escape) {
        event->accept();
        return;
    }
    QDialog::keyPressEvent(event);
}
