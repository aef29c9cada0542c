#include "app/V_Unit.h"

#include "runtime/Application.h"
#include "runtime/Fonts.h"

#include <QEvent>
#include <QKeyEvent>
#include <QMouseEvent>

const char* const TV_Form::ShortName = "Fetchlet team";
const char* const TV_Form::FullName = "Fetchlet 開発班(かいはつはん)";
const char* const TV_Form::MailAddress = "team@example.com";

TV_Form::TV_Form(QWidget* parent) : QDialog(parent)
{
    setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                   Qt::WindowCloseButtonHint);
    setWindowTitle(QStringLiteral("バージョン情報"));
    setFixedSize(233, 137);
    move(282, 105);
    setModal(true);
    setAttribute(Qt::WA_DeleteOnClose, false);
    setAutoFillBackground(true);
    QPalette pal = palette();
    pal.setColor(QPalette::Window, Qt::black);
    pal.setColor(QPalette::WindowText, Qt::white);
    setPalette(pal);
    const QFont formFont = FormFont(12, false, true);
    setFont(formFont);

    Label1 = new TLabel(QStringLiteral("プログラマー"), this);
    Label1->SetFont(FormFont(12));
    Label1->SetFontColor(clWhite);
    Label1->move(8, 8);
    Label2 = new TLabel(QString::fromUtf8(ShortName), this);
    Label2->SetFont(FormFont(13, true, true));
    Label2->SetFontColor(0x00E6E6E6);
    Label2->move(24, 32);
    Label2->setCursor(Qt::PointingHandCursor);
    Label2->installEventFilter(this);
    Label3 = new TLabel(QStringLiteral("メールアドレス（連絡先）"), this);
    Label3->SetFont(FormFont(12));
    Label3->SetFontColor(clWhite);
    Label3->move(8, 56);
    Edit1 = new QLineEdit(QString::fromUtf8(MailAddress), this);
    Edit1->setGeometry(24, 80, 121, 20);
    Edit1->setFrame(false);
    Edit1->setFont(formFont);
    {
        QPalette p = Edit1->palette();
        p.setColor(QPalette::Base, Qt::black);
        p.setColor(QPalette::Text, QColor::fromRgb(ColorToArgb(0x00FFFAD9)));
        Edit1->setPalette(p);
    }
    Edit1->setCursorPosition(0);
    CuteButton1 = new TCuteButton(this);
    CuteButton1->SetBounds(144, 104, 75, 25);
    CuteButton1->SetCaption(QStringLiteral("Close"));
    CuteButton1->SetColor(clBlack);
    CuteButton1->SetFont(formFont);
    CuteButton1->SetFontColor(clWhite);
    CuteButton1->SetFlat(false);
    CuteButton1->SetShowFocusRect(false);
    CuteButton1->SetUseDisabledColor(false);
    CuteButton1->SetEgnoreContClick(false);
    CuteButton1->OnClick = [this](TObject* sender) { CuteButton1Click(sender); };

    // The name, which a click opens, is reached with Tab too (Return or
    // Space clicks it). Tab goes round in the visible order (name, address,
    // Close); the round starts at the address, where the window opens.
    Label2->setFocusPolicy(Qt::StrongFocus);
    setTabOrder(Edit1, Label2); // the round: address, Close, name
    setTabOrder(Edit1, CuteButton1);
    Label3->setBuddy(Edit1);
}

void TV_Form::Label2Click()
{
    Label2->SetCaption(QString::fromUtf8(FullName));
}

void TV_Form::CuteButton1Click(TObject*)
{
    close();
}

bool TV_Form::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == Label2 && event->type() == QEvent::MouseButtonRelease &&
        static_cast<QMouseEvent*>(event)->button() == Qt::LeftButton) {
        Guarded([this] { Label2Click(); });
        return true;
    }
    return QDialog::eventFilter(watched, event);
}

void TV_Form::keyPressEvent(QKeyEvent* event)
{
    if (event->key() == Qt::Key_Escape) {
        event->accept();
        return;
    }
    QDialog::keyPressEvent(event);
}
