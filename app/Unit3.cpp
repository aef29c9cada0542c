#include "app/Unit3.h"

#include "runtime/Application.h"
#include "runtime/Fonts.h"

#include <QKeyEvent>

TForm3* Form3 = nullptr;

namespace {

constexpr TColor FormColor = 0x00EA6D53;

void blackTextEdit(QLineEdit* edit)
{
    QPalette p = edit->palette();
    p.setColor(QPalette::Text, Qt::black);
    p.setColor(QPalette::Base, Qt::white);
    edit->setPalette(p);
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

    connect(CheckBox1, &QCheckBox::toggled, this, [this] { Guarded([this] { CheckBox1Click(); }); });
    CuteButton1->OnClick = [this](TObject* sender) { CuteButton1Click(sender); };
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
    close();
}

void TForm3::keyPressEvent(QKeyEvent* event)
{
    if (event->key() == Qt::Key_Escape) {
        event->accept();
        return;
    }
    QDialog::keyPressEvent(event);
}
