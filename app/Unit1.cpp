#include "app/Unit1.h"

#include "app/Download.h"
#include "app/FolderLock.h"
#include "app/Messages.h"
#include "app/Staging.h"
#include "app/Verification.h"
#include "net/Url.h"
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
#include <QFontMetrics>
#include <QKeyEvent>

#include <cstring>
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
    Label2->installEventFilter(this);
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

void TForm1::FitLabel2()
{
    // The form's place while the text fits left of the buttons; a longer
    // one moves left, and one longer still is set smaller, so that it
    // never runs under the Close/Cancel button.
    const int right = CuteButton1->x() - 4;
    QFont font = FormFont(13, true);
    int width = QFontMetrics(font).horizontalAdvance(Label2->Caption());
    while (width > right - 4 && font.pixelSize() > 8) {
        font.setPixelSize(font.pixelSize() - 1);
        width = QFontMetrics(font).horizontalAdvance(Label2->Caption());
    }
    if (Label2->font() != font)
        Label2->SetFont(font);
    const QPoint place(std::max(4, std::min(52, right - width)), 232 + (13 - font.pixelSize()) / 2);
    if (Label2->pos() != place)
        Label2->move(place);
}

bool TForm1::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == Label2 && event->type() == QEvent::Resize) {
        Guarded([this] { FitLabel2(); });
        return false;
    }
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
            if (download_)
                download_->Cancel();
            NMHTTP1->Abort();
        }
    });
    QWidget::closeEvent(event);
}

std::string TForm1::LocalFileName(const std::string& address)
{
    // The last segment of the address's path, without query and fragment,
    // percent-decoded, as curl -O and browsers name what they save; at most
    // 10000 characters (a character is never split).
    const std::string name = TargetFileName(address);
    std::size_t end = 0;
    for (int characters = 0; end < name.size() && characters < 10000; characters++) {
        end++;
        while (end < name.size() && (static_cast<unsigned char>(name[end]) & 0xC0) == 0x80)
            end++;
    }
    return name.substr(0, end);
}

std::string TForm1::NameProblem(const std::string& name)
{
    if (!IsPlainFileName(name))
        return "アドレスからファイルの名前が決まりません (" + name + ")";
    // The program's own files in its folder, whatever their case.
    static const char* const own[] = {
        "DL.ini", "DL2.ini", "DL.dat", "DL.lock", "DL.sha256", "DL.pub", "DL.mirrors",
        "UNLHA32.DLL", "UNZIP32.DLL", "ZIP32J.DLL", "LMZIP32.DLL", "CAB32.DLL", "UNARJ32J.DLL", "tar32.dll",
        "UNRAR32.DLL", "BGA32.DLL", "libfetchlet_archcore.so", "fetchlet", "start-fetchlet", "run-fetchlet",
        "Fetchlet.desktop", "fetchlet.files", "qt.conf", "マニュアル.html",
    };
    const QString folded = QString::fromStdString(name).toCaseFolded();
    for (const char* file : own)
        if (folded == QString::fromUtf8(file).toCaseFolded())
            return "ファイル名 " + name + " はこのプログラム自身のファイルと同じなので、ダウンロードできません";
    if (folded.startsWith(QLatin1String(TStaging::Prefix)))
        return "ファイル名 " + name + " はこのプログラムが使う名前なので、ダウンロードできません";
    return {};
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
    // The name the file is saved under: one of the folder's own files never.
    if (const std::string problem = NameProblem(LocalFileName(address.toStdString())); !problem.empty()) {
        Beep();
        ShowMessageBox(QString::fromStdString(problem));
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

    // One download at a time in a folder: a second copy pressed here stops
    // before it writes anything.
    TFolderLock lock(Work_Dir);
    if (lock.Acquire() == TFolderLock::flBusy) {
        Beep();
        ShowMessageBox(QStringLiteral("このフォルダーでは別のダウンロードが実行中です。終わってからもう一度押してください (") +
                       QString::fromStdString(Work_Dir) + QStringLiteral(")"));
        return;
    }

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
    userCancel_ = false;

    auto notFound = [this] {
        Beep();
        ShowMessageBox(QStringLiteral("ファイルが存在しません"));
        Timer1->stop();
        Application().Terminate();
    };
    // The Stopped display, after a beep and the message that says why;
    // the status label says that it failed.
    auto stopped = [this](const std::string& message) {
        Label1->SetCaption(QString::fromUtf8(TMessages::FailedStatus));
        if (!message.empty()) {
            Beep();
            ShowMessageBox(QString::fromStdString(message));
        }
        CuteButton2->hide();
        Timer1->stop();
    };
    const TMessages::TContext context{target, NMHTTP1->ConnectTimeOut, NMHTTP1->IdleTimeOut};

    // The pin and the publisher's key, and the further addresses, read
    // before any request.
    TVerification verification(Work_Dir);
    if (!verification.Load(LocalFileName(DL_URL))) {
        stopped(verification.Error());
        return;
    }
    std::vector<std::string> mirrors;
    std::string mirrorsWrong;
    if (!TDownload::LoadMirrors(Work_Dir, mirrors, mirrorsWrong)) {
        stopped(mirrorsWrong);
        return;
    }

    // 6, 7. The transfer, address by address (the configured one, then the
    // mirrors), again after a transient failure: HEAD for the header (the
    // body file is not touched), then the GET into the part file, checked
    // there (pin, signature, CRC) before it replaces the file.
    TDownload download(*NMHTTP1, target);
    download_ = &download;
    struct Forget {
        TDownload*& download;
        ~Forget() { download = nullptr; }
    } forget{download_};
    download.SetMirrors(mirrors);
    download.RetryBase = RetryWait;
    download.SetVerification(&verification);
    download.ExpectedCrc = Check_CRC;
    download.CrcOf = [](const std::string& path) {
        TCRCList& crc = *Form2->CRCList1;
        crc.Files.Clear();
        crc.Files.Add(path);
        crc.Execute();
        return crc.CRCText;
    };
    // The proxy of each address: the proxy window's when ticked, else the
    // environment's (as curl reads it), else none.
    TProxyChoice proxy;
    download.ChooseProxy = [this, &proxy](const std::string& url) {
        proxy = TProxyConfig::Choose(Form3 ? Form3->ProxySetting() : TProxySetting{}, url);
        NMHTTP1->Proxy = proxy.UseProxy ? proxy.HostText() : std::string();
        NMHTTP1->ProxyPort = proxy.UseProxy ? proxy.Port : 0;
        NMHTTP1->ProxyAuthorization = proxy.Error.empty() ? TProxyConfig::ProxyAuthorization(proxy) : std::string();
        return proxy.Error;
    };
    download.OnHeader = [this] { ReadHeaderCapture(); };
    download.KnownSize = [this] { return static_cast<std::int64_t>(Size_KB) * 1024; };
    download.OnAttempt = [this] { Label1->SetCaption(QStringLiteral("受信中")); };
    download.OnWaiting = [this](int seconds) {
        Label1->SetCaption(QString::number(seconds) + QStringLiteral(" 秒後にもう一度試します"));
    };
    TDownload::TOutcome outcome;
    try {
        outcome = download.Run(DL_URL);
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
        if (dynamic_cast<const Exception*>(&error)) {
            stopped(TMessages::FailureText(std::current_exception(), *NMHTTP1, context));
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
    switch (outcome.Kind) {
    case TDownload::TOutcome::Finished:
        break;
    case TDownload::TOutcome::NotFound:
        notFound();
        return;
    case TDownload::TOutcome::ProxyCredentials:
        stopped("プロキシサーバーが認証を求めています (" + proxy.Describe() + ")");
        return;
    case TDownload::TOutcome::HttpError:
        // The server refused the GET: the system's "error" (no beep) with
        // the reply in words, then the Stopped display; no error page was
        // kept.
        ShowMessageBox(QStringLiteral("error\n") + QString::fromStdString(TMessages::ReplyLine(outcome.Reply)));
        stopped({});
        return;
    case TDownload::TOutcome::BadReply:
        stopped("サーバーの応答が正しくありません\n" + TMessages::ReplyLine(outcome.Reply));
        return;
    case TDownload::TOutcome::NoReply:
        stopped("サーバーから応答がありません (" + NMHTTP1->Host + ")");
        return;
    case TDownload::TOutcome::Refused:
        stopped(outcome.Message);
        return;
    }

    // 8. The CRC has been checked on the part, before it replaced the file.
    DL_OK = true;
    // 9. Extraction and the finished display.
    if (DL_OK) {
        if (Form2->LZH_CheckBox->isChecked()) {
            std::string failure;
            try {
                failure = ExtractArchive(target);
            } catch (const std::exception&) {
                Application().HandleException(std::current_exception());
                stopped({});
                return;
            }
            if (!failure.empty()) {
                stopped(failure);
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

void TForm1::ReadHeaderCapture()
{
    const std::string header = ResolveName(Work_Dir, "DL.dat");
    if (!FileExists(header))
        return;
    ListBox1.LoadFromFile(header);
    DeleteFile(header);
    if (!Size_Unknown)
        return;
    for (const std::string& line : ListBox1) {
        if (line.compare(0, 13, "Content-Lengt") == 0 && line.size() >= 13) {
            const std::string text = line.size() > 16 ? line.substr(16, 100) : std::string();
            const std::int64_t kbytes = StrToInt64(text) / 1024;
            Size_KB = static_cast<std::int32_t>(std::min<std::int64_t>(
                std::max<std::int64_t>(kbytes, std::numeric_limits<std::int32_t>::min()),
                std::numeric_limits<std::int32_t>::max()));
        }
    }
}

std::string TForm1::ExtractArchive(const std::string& path)
{
    if (!ArchiveFile1)
        ArchiveFile1 = std::make_unique<TArchiveFile>(nullptr);
    struct Release {
        std::unique_ptr<TArchiveFile>& component;
        ~Release() { component.reset(); }
    } release{ArchiveFile1};
    // All or nothing: the members go to a staging folder and into the
    // working folder only once the whole archive has extracted.
    TStaging staging(Work_Dir);
    const std::string stage = staging.Begin();
    if (stage.empty())
        return "解凍できませんでした: " + staging.Error();
    ArchiveFile1->SetFileName(path);
    ArchiveFile1->Options().x = 1;
    // The library's report, for the reason of a failure.
    ArchiveFile1->SetOutputSize(64 * 1024);
    const int result = ArchiveFile1->Extract(Handle(), nullptr, stage, {nullptr});
    if (result != 0) {
        const auto& output = ArchiveFile1->Output();
        const std::string report(output.data(), ::strnlen(output.data(), output.size()));
        return TMessages::ExtractionText(result, stage, report);
    }
    if (!staging.Commit())
        return "解凍できませんでした: " + staging.Error();
    return {};
}

void TForm1::CuteButton2Click(TObject*)
{
    if (Label1->Caption() == QStringLiteral("終了") || CuteButton1->Caption() == QStringLiteral("Close")) {
        NMHTTP1->Abort();
        Application().Terminate();
    }
    // While it waits to try again the status label counts the seconds; the
    // button cancels the wait as it cancels a transfer.
    const bool waiting = download_ && download_->Waiting();
    if (Label1->Caption() == QStringLiteral("受信中") || CuteButton1->Caption() == QStringLiteral("Cancel") || waiting) {
        Timer1->stop();
        Label1->SetCaption(QStringLiteral("中断しました"));
        CuteButton2->hide();
        CuteButton1->show();
        CuteButton1->SetCaption(Form2->Button_moji_Edit->text());
        userCancel_ = true;
        if (download_)
            download_->Cancel();
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
    // The place in the file the download has reached: a resumed download
    // counts the bytes it kept from earlier attempts, also while it waits to
    // try again and from a mirror.
    std::int64_t b = download_ ? download_->Position() : NMHTTP1->BytesRecvd;
    if (!download_ && NMHTTP1->ReplyNumber == 206 && NMHTTP1->RangeFrom > 0)
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

void TForm1::NMHTTP1Failure(TObject*, CmdType)
{
    // The reply is judged when the download ends (TDownload): a 503 that is
    // tried again, or a 404 with a mirror after it, is no failure yet. A
    // refused GET then shows "error" with the reply in words.
}
