// The real boxes and dialogs behind the runtime's entry points: Qt's texts
// in the user's language, the password masked, the file filter in Qt's
// form, message boxes as wide as their caption.
#include "runtime/Application.h"
#include "runtime/Dialogs.h"
#include "runtime/Translations.h"

#include <QApplication>
#include <QColorDialog>
#include <QDialogButtonBox>
#include <QFileDialog>
#include <QInputDialog>
#include <QLabel>
#include <QLineEdit>
#include <QLocale>
#include <QMessageBox>
#include <QPushButton>
#include <QTimer>

#include <gtest/gtest.h>

#include <functional>

namespace {

// Opens a box through `open`; `inspect` sees it once it is up, then it is
// closed.
void whileShown(const std::function<void()>& open, const std::function<void(QWidget*)>& inspect)
{
    bool seen = false;
    QTimer::singleShot(0, [&] {
        QWidget* box = QApplication::activeModalWidget();
        if (!box)
            return;
        seen = true;
        inspect(box);
        if (auto* dialog = qobject_cast<QDialog*>(box))
            dialog->reject();
    });
    open();
    EXPECT_TRUE(seen) << "no box came up";
}

QStringList buttonTexts(QWidget* box)
{
    QStringList texts;
    for (auto* button : box->findChildren<QPushButton*>())
        texts << button->text();
    return texts;
}

} // namespace

TEST(Dialogs, FileFilterGivesEachPatternOnce)
{
    // The form's filter names its pattern in the description already.
    EXPECT_EQ(QtFileFilter(QStringLiteral("ダウンロードするファイル(*.*)|*.*")), QStringLiteral("ダウンロードするファイル(*.*)"));
    EXPECT_EQ(QtFileFilter(QStringLiteral("画像(*.bmp;*.jpg)|*.bmp;*.jpg|すべて|*")),
              QStringLiteral("画像(*.bmp *.jpg);;すべて (*)"));
    // A parenthesis that is not the pattern is kept, and the pattern added.
    EXPECT_EQ(QtFileFilter(QStringLiteral("Bitmaps (bmp)|*.bmp")), QStringLiteral("Bitmaps (bmp) (*.bmp)"));
    EXPECT_EQ(QtFileFilter(QString()), QString());
}

TEST(Dialogs, JapaneseLocaleGivesJapaneseStandardDialogs)
{
    QLocale::setDefault(QLocale(QLocale::Japanese, QLocale::Japan));
    ASSERT_TRUE(InstallQtTranslations()) << "qt6-translations-l10n";
    Application().SetTitle(QStringLiteral("Fetchlet"));

    whileShown([] { PasswordBox(QStringLiteral("PASSWORD"), QStringLiteral("パスワードを入力してください"), QString()); },
               [](QWidget* box) {
                   EXPECT_EQ(box->windowTitle(), QStringLiteral("PASSWORD"));
                   const auto edits = box->findChildren<QLineEdit*>();
                   ASSERT_EQ(edits.size(), 1);
                   EXPECT_EQ(edits[0]->echoMode(), QLineEdit::Password);
                   EXPECT_TRUE(buttonTexts(box).contains(QStringLiteral("キャンセル"))) << buttonTexts(box).join(',').toStdString();
               });
    whileShown([] { InputBox(QStringLiteral("入力"), QStringLiteral("名前"), QStringLiteral("既定")); },
               [](QWidget* box) {
                   const auto edits = box->findChildren<QLineEdit*>();
                   ASSERT_EQ(edits.size(), 1);
                   EXPECT_EQ(edits[0]->echoMode(), QLineEdit::Normal);
                   EXPECT_EQ(edits[0]->text(), QStringLiteral("既定"));
               });
    whileShown([] {
        TColor color = 0;
        ChooseColor(color);
    },
               [](QWidget* box) {
                   ASSERT_NE(qobject_cast<QColorDialog*>(box), nullptr);
                   EXPECT_NE(box->windowTitle(), QStringLiteral("Select Color"));
                   EXPECT_FALSE(buttonTexts(box).contains(QStringLiteral("Cancel")));
               });
    whileShown([] {
        QString path;
        ChooseOpenFile(QStringLiteral("ダウンロードするファイル(*.*)|*.*"), QStringLiteral("DownLoadするファイルをチェック"), path);
    },
               [](QWidget* box) {
                   auto* dialog = qobject_cast<QFileDialog*>(box);
                   ASSERT_NE(dialog, nullptr);
                   EXPECT_EQ(dialog->windowTitle(), QStringLiteral("DownLoadするファイルをチェック"));
                   EXPECT_EQ(dialog->nameFilters(), QStringList{QStringLiteral("ダウンロードするファイル(*.*)")});
                   for (auto* label : dialog->findChildren<QLabel*>())
                       EXPECT_FALSE(label->text().contains(QStringLiteral("File name")) ||
                                    label->text().contains(QStringLiteral("Look in")))
                           << label->text().toStdString();
                   EXPECT_FALSE(buttonTexts(box).contains(QStringLiteral("Cancel")));
               });
    QLocale::setDefault(QLocale::c());
}

TEST(Dialogs, MessageBoxesAreAsWideAsTheirCaption)
{
    Application().SetTitle(QStringLiteral("Fetchlet"));
    for (const QString& text : {QStringLiteral("error"), QStringLiteral("!")}) {
        whileShown([&] { ShowMessageBox(text); }, [](QWidget* box) {
            EXPECT_GE(box->width(), CaptionWidth(QStringLiteral("Fetchlet"), box->font()));
        });
        whileShown([&] { ShowErrorBox(text); }, [](QWidget* box) {
            EXPECT_GE(box->width(), CaptionWidth(QStringLiteral("Fetchlet"), box->font()));
        });
    }
    const QString longCaption = QStringLiteral("ずっと長い題名のついた確認の箱です");
    whileShown([&] { ConfirmYesNo(longCaption, QStringLiteral("はい?")); },
               [&](QWidget* box) { EXPECT_GE(box->width(), CaptionWidth(longCaption, box->font())); });
    // The caption needs room for the bar's buttons beside its text.
    EXPECT_GT(CaptionWidth(QStringLiteral("Fetchlet"), QApplication::font()),
              QFontMetrics(QApplication::font()).horizontalAdvance(QStringLiteral("Fetchlet")) + 100);
}

TEST(Dialogs, ResponderSeesWhetherTheInputIsMasked)
{
    std::vector<DialogRequest> requests;
    SetDialogResponder([&](const DialogRequest& r) {
        requests.push_back(r);
        DialogAnswer a;
        a.accepted = true;
        a.text = QStringLiteral("typed");
        return a;
    });
    EXPECT_EQ(PasswordBox(QStringLiteral("PASSWORD"), QStringLiteral("p"), QString()), QStringLiteral("typed"));
    EXPECT_EQ(InputBox(QStringLiteral("c"), QStringLiteral("p"), QString()), QStringLiteral("typed"));
    SetDialogResponder({});
    ASSERT_EQ(requests.size(), 2u);
    EXPECT_EQ(requests[0].kind, DialogRequest::Input);
    EXPECT_TRUE(requests[0].masked);
    EXPECT_EQ(requests[0].caption, QStringLiteral("PASSWORD"));
    EXPECT_FALSE(requests[1].masked);
}
