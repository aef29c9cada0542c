#include "app/Unit1.h"

#include "app/Download.h"
#include "app/Unit2.h"
#include "app/Unit3.h"
#include "app/V_Unit.h"
#include "archive/ARCHIVES.h"
#include "integrity/CrcListComp.h"
#include "platform/FileNames.h"
#include "runtime/Application.h"
#include "runtime/Dialogs.h"
#include "runtime/Fonts.h"
#include "runtime/Picture.h"
#include "runtime/SysUtils.h"

#include <QAccessible>
#include <QAccessibleWidget>
#include <QCloseEvent>
#include <QFile>
#include <QKeyEvent>

#include <limits>

TForm1* Form1 = nullptr;

// The pictures compiled into the program live in a library; its resources
// are registered before the first window needs them.
void TForm1::RegisterPictures()
{
    Q_INIT_RESOURCE(resources);
}

namespace {

constexpr TColor DownloadButtonColor = 0x001A479B;
constexpr TColor DownloadButtonFontColor = 0x00C1FDFC;
constexpr TColor GaugeForeColor = 0x00629BE8;

// For assistive technology the main window is a frame named by its title
// (Qt takes a window that is a plain widget for a nameless filler).
QAccessibleInterface* MainWindowAccessibleFactory(const QString&, QObject* object)
{
    if (auto* form = dynamic_cast<TForm1*>(object))
        return new QAccessibleWidget(form, QAccessible::Window);
    return nullptr;
}

// The progress text is told to assistive technology once a second at most.
constexpr int ProgressNameInterval = 1000;

} // namespace

QImage TForm1::BuiltInSkin()
{
    RegisterPictures();
    QFile file(QStringLiteral(":/resources/skin.jpg"));
    if (!file.open(QIODevice::ReadOnly))
        return QImage();
    const QByteArray bytes = file.readAll();
    return DecodeJpeg(std::string_view(bytes.constData(), static_cast<size_t>(bytes.size())));
}

TForm1::TForm1() : QWidget(nullptr)
{
    Form1 = this;
    QAccessible::installFactory(MainWindowAccessibleFactory);
    setWindowFlags(Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                   Qt::WindowMinimizeButtonHint | Qt::WindowCloseButtonHint);
    setFixedSize(350, 250);
    move(126, 74);
    setAutoFillBackground(true);
    QPalette pal = palette();
    pal.setColor(QPalette::Window, QColor::fromRgb(ColorToArgb(clBtnFace)));
    pal.setColor(QPalette::WindowText, QColor::fromRgb(ColorToArgb(clWindowText)));
    setPalette(pal);
    setFont(FormFont(12));
    SetCaption(QStringLiteral("Fetchlet"));
    // A click on the window gives it the keys; Tab goes between its buttons
    // only, never to the window itself.
    setFocusPolicy(Qt::ClickFocus);

    Image1 = new TImage(this);
    Image1->setGeometry(0, 0, 350, 250);
    Image1->SetPicture(BuiltInSkin());

    Label1 = new TLabel(QStringLiteral("ダウンロード状況"), this);
    Label1->move(24, 184);
    Label1->SetFont(FormFont(12));
    Label1->SetLiveStatus(true); // "受信中", "終了" ... are heard wherever the user is

    Label2 = new TLabel(QString(), this);
    Label2->move(52, 232);
    Label2->SetFont(FormFont(13, true));
    Label2->SetFontColor(clWhite);
    Label2->SetAccessibleNameInterval(ProgressNameInterval);

    Gauge1 = new TGauge(this);
    Gauge1->SetFont(FormFont(12));
    Gauge1->SetBounds(24, 200, 169, 28);
    Gauge1->SetForeColor(GaugeForeColor);
    Gauge1->SetProgress(30);
    Gauge1->stackUnder(Label2); // read in reading order: status, gauge, progress text

    CuteButton1 = new TCuteButton(this);
    CuteButton1->SetBounds(232, 216, 107, 25);
    CuteButton1->SetCaption(QStringLiteral("DownLoad"));
    CuteButton1->SetColor(DownloadButtonColor);
    CuteButton1->SetFont(FormFont(12));
    CuteButton1->SetFontColor(DownloadButtonFontColor);
    CuteButton1->SetFlat(false);
    CuteButton1->SetShowFocusRect(false);
    CuteButton1->SetUseDisabledColor(false);
    CuteButton1->SetEgnoreContClick(false);

    CuteButton2 = new TCuteButton(this);
    CuteButton2->SetBounds(232, 216, 107, 25);
    CuteButton2->SetCaption(QStringLiteral("Close"));
    CuteButton2->SetColor(DownloadButtonColor);
    CuteButton2->SetFont(FormFont(12));
    CuteButton2->SetFontColor(DownloadButtonFontColor);
    CuteButton2->SetFlat(false);
    CuteButton2->SetShowFocusRect(false);
    CuteButton2->SetUseDisabledColor(false);
    CuteButton2->SetEgnoreContClick(false);
    CuteButton2->hide();

    Button2 = new QPushButton(QStringLiteral("解凍テスト"), this);
    Button2->setGeometry(624, 328, 75, 25);
    Button2->hide();

    Timer1 = new QTimer(this);
    Timer1->setInterval(100);

    handleWindow_ = std::make_unique<TMessageWindow>([](UINT, WPARAM, LPARAM) -> LRESULT { return 0; },
                                                     "TForm1");
    NMHTTP1 = std::make_unique<TNMHTTP>(nullptr);
    NMHTTP1->Port = 0;
    NMHTTP1->ReportLevel = 0;
    NMHTTP1->Body = "Default.htm";
    NMHTTP1->Header = "DL.dat";
    NMHTTP1->InputFileMode = true;
    NMHTTP1->OutputFileMode = true;
    NMHTTP1->ProxyPort = 0;
    NMHTTP1->OnStatus = [this](TObject* sender, const std::string& status) { NMHTTP1Status(sender, status); };
    NMHTTP1->OnFailure = [this](TObject* sender, CmdType cmd) { NMHTTP1Failure(sender, cmd); };
    NMHTTP1->ConnectTimeOut = ConnectLimit;
    NMHTTP1->IdleTimeOut = IdleLimit;
    ArchiveFile1 = std::make_unique<TArchiveFile>(nullptr);

    // Tab order: the download button first, the Close/Cancel button later.
    setTabOrder(CuteButton1, CuteButton2);

    CuteButton1->OnKeyDown = [this](TObject* s, WORD& k, TShiftState sh) { CuteButton1KeyDown(s, k, sh); };
    CuteButton2->OnKeyDown = [this](TObject* s, WORD& k, TShiftState sh) { CuteButton1KeyDown(s, k, sh); };
    CuteButton1->OnClick = [this](TObject* s) { CuteButton1Click(s); };
    CuteButton1->installEventFilter(this);
    CuteButton2->installEventFilter(this);
    CuteButton2->OnClick = [this](TObject* s) { CuteButton2Click(s); };
    QObject::connect(Button2, &QPushButton::clicked, this, [this] { Guarded([this] { Button2Click(this); }); });
    QObject::connect(Timer1, &QTimer::timeout, this, [this] { Guarded([this] { Timer1Timer(this); }); });

    Guarded([this] { FormCreate(); });
}

TForm1::~TForm1()
{
    ArchiveFile1.reset();
    NMHTTP1.reset();
    if (Form1 == this)
        Form1 = nullptr;
}

void TForm1::FormCreate()
{
    Work_Dir = GetCurrentDir() + "/";
    if (!PublisherLayout())
        Gauge1->SetProgress(0);
}

bool TForm1::PublisherLayout() const
{
    return FileExists(ResolveName(Work_Dir, "マニュアル.html")) && DirectoryExists(ResolveName(Work_Dir, "Data")) &&
           DirectoryExists(ResolveName(Work_Dir, "DSkin"));
}

void TForm1::keyPressEvent(QKeyEvent* event)
{
    // Keys reach the handler through whichever of the window and its two
    // buttons has the focus; the buttons call it themselves.
    Guarded([&] {
        WORD key = QtKeyToVK(event->key());
        CuteButton1KeyDown(this, key, 0);
    });
}

void TForm1::CuteButton1KeyDown(TObject*, WORD& Key, TShiftState)
{
    if (Key == VK_F12) {
        TV_Form versionWindow(nullptr);
        versionWindow.exec();
    }
    if (PublisherLayout() && !Timer1->isActive() && Key == VK_F1 && Form2)
        Form2->exec();
    // The proxy window, for every user, while no transfer runs.
    if (Key == VK_F2 && !Downloading() && !Timer1->isActive() && Form3)
        Form3->exec();
}

bool TForm1::DownloadButtonCovered() const
{
    return !CuteButton2->isHidden() && CuteButton2->geometry().intersects(CuteButton1->geometry());
}

void TForm1::CloseButtonShown()
{
    if (!DownloadButtonCovered())
        return;
    CuteButton1->setFocusPolicy(Qt::NoFocus);
    CuteButton2->setFocus(Qt::OtherFocusReason);
}

void TForm1::CloseButtonHidden()
{
    CuteButton1->setFocusPolicy(Qt::StrongFocus);
    QWidget* focused = focusWidget();
    if (!focused || focused == CuteButton2 || focused == this)
        CuteButton1->setFocus(Qt::OtherFocusReason);
}

bool TForm1::FilterButtonKey(QObject* button, QKeyEvent* event)
{
    const int key = event->key();
    const bool activates =
        key == Qt::Key_Return || key == Qt::Key_Enter || key == Qt::Key_Space;
    if (!activates)
        return false;
    const bool press = event->type() == QEvent::KeyPress;
    if (button == CuteButton1) {
        if (DownloadButtonCovered())
            return true;
        if (!event->isAutoRepeat())
            heldKey_ = press ? key : 0;
        return false;
    }
    // The Close/Cancel button: the repeats and the release of a key that
    // went down on the download button are not its own.
    if (key != heldKey_)
        return false;
    if (press && !event->isAutoRepeat()) {
        heldKey_ = 0; // pressed anew: its release went elsewhere
        return false;
    }
    if (!press && !event->isAutoRepeat())
        heldKey_ = 0;
    return true;
}

bool TForm1::eventFilter(QObject* watched, QEvent* event)
{
    if (watched != CuteButton1 && watched != CuteButton2)
        return QWidget::eventFilter(watched, event);
    bool swallow = false;
    Guarded([&] {
        switch (event->type()) {
        case QEvent::Show:
            if (watched == CuteButton2)
                CloseButtonShown();
            break;
        case QEvent::Hide:
            if (watched == CuteButton2)
                CloseButtonHidden();
            break;
        case QEvent::FocusIn:
            // Given the focus while covered, the download button hands it on.
            if (watched == CuteButton1 && DownloadButtonCovered()) {
                CuteButton2->setFocus(Qt::OtherFocusReason);
                swallow = true;
            }
            break;
        case QEvent::KeyPress:
        case QEvent::KeyRelease:
            swallow = FilterButtonKey(watched, static_cast<QKeyEvent*>(event));
            break;
        case QEvent::Shortcut:
            // The covered button's accelerator does not reach it.
            swallow = watched == CuteButton1 && DownloadButtonCovered();
            break;
        default:
            break;
        }
    });
    return swallow || QWidget::eventFilter(watched, event);
}

void TForm1::closeEvent(QCloseEvent* event)
{
    Guarded([this] {
        if (downloading_) {
            closing_ = true;
            NMHTTP1->Abort();
        }
    });
    QWidget::closeEvent(event);
}

std::string TForm1::LocalFileName(const std::string& address)
{
    size_t start = 0;
    bool slash = false;
    for (size_t i = 0; i < address.size() && address[i] != ' '; i++)
        if (address[i] == '/') {
            start = i + 1;
            slash = true;
        }
    if (!slash)
        start = 0;
    // At most 10000 characters (not bytes: a character is never split).
    size_t end = start;
    for (int characters = 0; end < address.size() && characters < 10000; characters++) {
        end++;
        while (end < address.size() && (static_cast<unsigned char>(address[end]) & 0xC0) == 0x80)
            end++;
    }
    return address.substr(start, end - start);
}

QString TForm1::ProgressText(std::int64_t b, std::int32_t sizeKB, int* percent)
{
    const std::int64_t r = b / 1024;
    if (sizeKB == 0)
        return QString::number(r) + QStringLiteral("kbyte");
    // Extended precision (64-bit mantissa): the quotient first, then the
    // product, cut towards zero. 53/100 gives 52, 29/100 gives 29.
    const long double p = (static_cast<long double>(r) / static_cast<long double>(sizeKB)) * 100.0L;
    const auto whole = static_cast<std::int64_t>(p);
    if (percent)
        *percent = static_cast<int>(std::min<std::int64_t>(std::max<std::int64_t>(whole, std::numeric_limits<int>::min()),
                                                           std::numeric_limits<int>::max()));
    return QString::number(r) + QStringLiteral("Kbyte/") + QString::number(sizeKB) + QStringLiteral("Kbyte(") +
           QString::number(whole) + QStringLiteral("%)");
}

void TForm1::CuteButton1Click(TObject*)
{
    // The download button is only covered while a transfer runs; a key
    // press on it must not start a second one.
    if (downloading_)
        return;
    downloading_ = true;
    struct Done {
        bool& flag;
        ~Done() { flag = false; }
    } done{downloading_};
    Download();
}

void TForm1::Download()
{
    // 1. The address.
    const QString address = Form2->URL_Edit->text();
    if (address == QStringLiteral("http://") || address.isEmpty()) {
        Beep();
        ShowMessageBox(QStringLiteral("ダウンロードするファイルが指定されていません"));
        return;
    }
    // 2, 3. The password, once per run.
    if (!Pass_OK && Form2->PASS_CheckBox->isChecked()) {
        const QString password = Form2->pass_Edit->text();
        const QString typed = PasswordBox(QStringLiteral("PASSWORD"), QStringLiteral("パスワードを入力してください"), QString());
        if (typed != password) {
            Beep();
            ShowMessageBox(QStringLiteral("パスワードが違います"));
            return;
        }
    }
    Pass_OK = true;

    // 4, 5. Receiving.
    DL_URL = address.toStdString();
    Label1->SetCaption(QStringLiteral("受信中"));
    NMHTTP1->InputFileMode = true;
    NMHTTP1->ReportLevel = 2;
    const std::string target = Work_Dir + LocalFileName(DL_URL);
    NMHTTP1->Body = target;
    Timer1->start();
    CuteButton2->show();
    CuteButton2->raise();
    CuteButton2->SetCaption(QStringLiteral("Cansel"));
    getFailed_ = false;
    userCancel_ = false;

    auto notFound = [this] {
        Beep();
        ShowMessageBox(QStringLiteral("ファイルが存在しません"));
        Timer1->stop();
        Application().Terminate();
    };
    // The Stopped display, after a beep and the message that says why.
    auto stopped = [this](const std::string& message) {
        if (!message.empty()) {
            Beep();
            ShowMessageBox(QString::fromStdString(message));
        }
        CuteButton2->hide();
        Timer1->stop();
    };

    // The proxy: the proxy window's when ticked, else the environment's
    // (as curl reads it), else none.
    const TProxyChoice proxy = TProxyConfig::Choose(Form3 ? Form3->ProxySetting() : TProxySetting{}, DL_URL);
    if (!proxy.Error.empty()) {
        stopped(proxy.Error);
        return;
    }
    NMHTTP1->Proxy = proxy.UseProxy ? proxy.HostText() : std::string();
    NMHTTP1->ProxyPort = proxy.UseProxy ? proxy.Port : 0;
    NMHTTP1->ProxyAuthorization = TProxyConfig::ProxyAuthorization(proxy);

    // 6, 7. The transfer: HEAD for the header (the body file is not
    // touched), then the GET into the part file.
    TDownload download(*NMHTTP1, target);
    bool complete = false;
    const std::string proxyWantsCredentials = "プロキシサーバーが認証を求めています (" + proxy.Describe() + ")";
    try {
        NMHTTP1->InputFileMode = false;
        NMHTTP1->Head(DL_URL);
        NMHTTP1->InputFileMode = true;
        if (NMHTTP1->ReplyNumber == 404) {
            notFound();
            return;
        }
        if (NMHTTP1->StatusLine.empty()) {
            stopped("サーバーから応答がありません (" + NMHTTP1->Host + ")");
            return;
        }
        if (NMHTTP1->ReplyNumber == 407 && proxy.UseProxy) {
            stopped(proxyWantsCredentials);
            return;
        }
        const std::string header = ResolveName(Work_Dir, "DL.dat");
        if (FileExists(header)) {
            ListBox1.LoadFromFile(header);
            DeleteFile(header);
            if (Size_Unknown) {
                for (const std::string& line : ListBox1) {
                    if (line.compare(0, 13, "Content-Lengt") == 0 && line.size() >= 13) {
                        const std::string text = line.size() > 16 ? line.substr(16, 100) : std::string();
                        const std::int64_t kbytes = StrToInt64(text) / 1024;
                        Size_KB = static_cast<std::int32_t>(
                            std::min<std::int64_t>(std::max<std::int64_t>(kbytes, std::numeric_limits<std::int32_t>::min()),
                                                   std::numeric_limits<std::int32_t>::max()));
                    }
                }
            }
        }
        // Room for what remains, when the size is known.
        const std::int64_t resumed = download.Prepare(DL_URL);
        const std::int64_t size = NMHTTP1->ContentLength >= 0 && NMHTTP1->ReplyNumber >= 200 && NMHTTP1->ReplyNumber <= 299
                                      ? NMHTTP1->ContentLength
                                      : static_cast<std::int64_t>(Size_KB) * 1024;
        const std::int64_t free = TDownload::FreeSpace(Work_Dir);
        if (size > 0 && free >= 0 && free < size - resumed) {
            stopped("空き容量が足りません: あと " + std::to_string((size - resumed - free + 1023) / 1024) +
                    " Kbyte 必要です");
            return;
        }
        complete = download.Fetch(DL_URL);
        if (NMHTTP1->ReplyNumber == 404) {
            notFound();
            return;
        }
    } catch (const std::exception& error) {
        NMHTTP1->InputFileMode = true;
        if (closing_) {
            // The window was closed during the transfer: nothing more.
            Timer1->stop();
            return;
        }
        if (NMHTTP1->ReplyNumber == 404) {
            // A 404 whose connection then failed still ends the program.
            notFound();
            return;
        }
        if (userCancel_) {
            // The Close/Cancel button has set the Cancelled display.
            Beep();
            Timer1->stop();
            return;
        }
        if (dynamic_cast<const ESockError*>(&error) || dynamic_cast<const EStreamError*>(&error)) {
            stopped(TDownload::FailureText(std::current_exception(), *NMHTTP1));
        } else {
            // Anything else is shown as the runtime shows it, then stops.
            Application().HandleException(std::current_exception());
            stopped({});
        }
        return;
    }
    if (closing_) {
        Timer1->stop();
        return;
    }
    if (NMHTTP1->ReplyNumber == 407 && proxy.UseProxy) {
        stopped(proxyWantsCredentials);
        return;
    }
    if (getFailed_) {
        // The server refused the GET ("error" was shown): the Stopped
        // display; no error page was kept.
        stopped({});
        return;
    }
    if (!complete) {
        stopped(NMHTTP1->StatusLine.empty()
                    ? "サーバーから応答がありません (" + NMHTTP1->Host + ")"
                    : "サーバーの応答が正しくありません (" + NMHTTP1->StatusLine.substr(0, NMHTTP1->StatusLine.find_first_of("\r\n")) + ")");
        return;
    }

    // 8. The CRC.
    DL_OK = true;
    if (!Check_CRC.empty()) {
        TCRCList& crc = *Form2->CRCList1;
        crc.Files.Clear();
        crc.Files.Add(target);
        crc.Execute();
        if (Check_CRC != crc.CRCText) {
            Beep();
            ShowMessageBox(QStringLiteral("CRCが一致しません,ファイルが壊れてる可能性があります"));
            DL_OK = false;
        }
    }
    // 9. Extraction and the finished display.
    if (DL_OK) {
        if (Form2->LZH_CheckBox->isChecked()) {
            int result = 0;
            try {
                result = ExtractArchive(target);
            } catch (const std::exception&) {
                Application().HandleException(std::current_exception());
                stopped({});
                return;
            }
            if (result != 0) {
                stopped(TDownload::ExtractionText(result));
                return;
            }
        }
        Label2->SetCaption(QString::number(Size_KB) + QStringLiteral("Kbyte/") + QString::number(Size_KB) +
                           QStringLiteral("Kbyte(100%)"));
        Gauge1->SetProgress(100);
        Label1->SetCaption(QStringLiteral("終了"));
        CuteButton2->show();
        CuteButton2->raise();
        CuteButton2->SetCaption(QStringLiteral("Close"));
    }
    // 10.
    Timer1->stop();
}

int TForm1::ExtractArchive(const std::string& path)
{
    if (!ArchiveFile1)
        ArchiveFile1 = std::make_unique<TArchiveFile>(nullptr);
    struct Release {
        std::unique_ptr<TArchiveFile>& component;
        ~Release() { component.reset(); }
    } release{ArchiveFile1};
    ArchiveFile1->SetFileName(path);
    ArchiveFile1->Options().x = 1;
    return ArchiveFile1->Extract(Handle(), nullptr, Work_Dir, {nullptr});
}

void TForm1::CuteButton2Click(TObject*)
{
    if (Label1->Caption() == QStringLiteral("終了") || CuteButton1->Caption() == QStringLiteral("Close")) {
        NMHTTP1->Abort();
        Application().Terminate();
    }
    if (Label1->Caption() == QStringLiteral("受信中") || CuteButton1->Caption() == QStringLiteral("Cancel")) {
        Timer1->stop();
        Label1->SetCaption(QStringLiteral("中断しました"));
        CuteButton2->hide();
        CuteButton1->show();
        CuteButton1->SetCaption(Form2->Button_moji_Edit->text());
        userCancel_ = true;
        NMHTTP1->Cancel();
    }
}

void TForm1::Button2Click(TObject*)
{
    QString chosen;
    if (!ChooseOpenFile(QString(), QString(), chosen))
        return;
    ExtractArchive(chosen.toStdString());
}

void TForm1::Timer1Timer(TObject*)
{
    // A resumed download counts the bytes it kept from the earlier attempt.
    std::int64_t b = NMHTTP1->BytesRecvd;
    if (NMHTTP1->ReplyNumber == 206 && NMHTTP1->RangeFrom > 0)
        b += NMHTTP1->RangeFrom;
    if (b == 0)
        return;
    int percent = 0;
    Label2->SetCaption(ProgressText(b, Size_KB, &percent));
    if (Size_KB != 0)
        Gauge1->SetProgress(percent);
}

void TForm1::NMHTTP1Status(TObject*, const std::string&)
{
    // The status texts are not shown; a 404 reply is acted on when its
    // request returns.
}

void TForm1::NMHTTP1Failure(TObject*, CmdType Cmd)
{
    // A 404 ends the program and a proxy's 407 has its own message.
    if (Cmd == cmdGet && NMHTTP1->ReplyNumber != 404 && !(NMHTTP1->ReplyNumber == 407 && !NMHTTP1->Proxy.empty())) {
        ShowMessageBox(QStringLiteral("error"));
        getFailed_ = true;
    }
}
