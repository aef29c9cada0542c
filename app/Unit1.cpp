#include "app/Unit1.h"

#include "app/Unit2.h"
#include "app/V_Unit.h"
#include "platform/FileNames.h"
#include "runtime/Application.h"
#include "runtime/Fonts.h"
#include "runtime/Picture.h"

#include <QFile>
#include <QKeyEvent>

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
    setFocusPolicy(Qt::StrongFocus);

    Image1 = new TImage(this);
    Image1->setGeometry(0, 0, 350, 250);
    Image1->SetPicture(BuiltInSkin());

    Label1 = new TLabel(QStringLiteral("ダウンロード状況"), this);
    Label1->move(24, 184);
    Label1->SetFont(FormFont(12));

    Label2 = new TLabel(QString(), this);
    Label2->move(52, 232);
    Label2->SetFont(FormFont(13, true));
    Label2->SetFontColor(clWhite);

    Gauge1 = new TGauge(this);
    Gauge1->SetFont(FormFont(12));
    Gauge1->SetBounds(24, 200, 169, 28);
    Gauge1->SetForeColor(GaugeForeColor);
    Gauge1->SetProgress(30);

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

    // Tab order: the download button first, the Close/Cancel button later.
    setTabOrder(CuteButton1, CuteButton2);

    CuteButton1->OnKeyDown = [this](TObject* s, WORD& k, TShiftState sh) { CuteButton1KeyDown(s, k, sh); };
    CuteButton2->OnKeyDown = [this](TObject* s, WORD& k, TShiftState sh) { CuteButton1KeyDown(s, k, sh); };
    CuteButton1->OnClick = [this](TObject* s) { CuteButton1Click(s); };
    CuteButton2->OnClick = [this](TObject* s) { CuteButton2Click(s); };
    QObject::connect(Button2, &QPushButton::clicked, this, [this] { Guarded([this] { Button2Click(this); }); });
    QObject::connect(Timer1, &QTimer::timeout, this, [this] { Guarded([this] { Timer1Timer(this); }); });

    Guarded([this] { FormCreate(); });
}

TForm1::~TForm1()
{
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
}

void TForm1::CuteButton1Click(TObject*)
{
}

void TForm1::CuteButton2Click(TObject*)
{
}

void TForm1::Button2Click(TObject*)
{
}

void TForm1::Timer1Timer(TObject*)
{
}
