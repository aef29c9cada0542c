#include "runtime/Dialogs.h"

#include "runtime/Application.h"

#include <QApplication>
#include <QColorDialog>
#include <QFileDialog>
#include <QInputDialog>
#include <QMessageBox>
#include <QPushButton>
#include <QStringList>

namespace {

DialogResponder& responder()
{
    static DialogResponder r;
    return r;
}

bool answered(const DialogRequest& request, DialogAnswer& answer)
{
    if (!responder())
        return false;
    answer = responder()(request);
    return true;
}

QWidget* parentWindow()
{
    QWidget* w = QApplication::activeModalWidget();
    if (!w)
        w = QApplication::activeWindow();
    if (!w)
        w = Application().MainForm();
    return w;
}

} // namespace

DialogResponder SetDialogResponder(DialogResponder r)
{
    DialogResponder previous = std::move(responder());
    responder() = std::move(r);
    return previous;
}

void Beep()
{
    DialogAnswer a;
    if (answered({DialogRequest::Beep, {}, {}, {}, {}}, a))
        return;
    QApplication::beep();
}

void ShowMessageBox(const QString& text)
{
    DialogAnswer a;
    if (answered({DialogRequest::Message, Application().Title(), text, {}, {}}, a))
        return;
    QMessageBox box(QMessageBox::NoIcon, Application().Title(), text, QMessageBox::Ok, parentWindow());
    box.exec();
}

void ShowErrorBox(const QString& text)
{
    DialogAnswer a;
    if (answered({DialogRequest::Error, Application().Title(), text, {}, {}}, a))
        return;
    QMessageBox box(QMessageBox::Critical, Application().Title(), text, QMessageBox::Ok, parentWindow());
    box.exec();
}

QString InputBox(const QString& caption, const QString& prompt, const QString& defaultValue)
{
    DialogAnswer a;
    if (answered({DialogRequest::Input, caption, prompt, defaultValue, {}}, a))
        return a.accepted ? a.text : QString();
    bool ok = false;
    const QString text = QInputDialog::getText(parentWindow(), caption, prompt, QLineEdit::Normal, defaultValue, &ok);
    return ok ? text : QString();
}

bool ConfirmYesNo(const QString& caption, const QString& question)
{
    DialogAnswer a;
    if (answered({DialogRequest::Confirm, caption, question, {}, {}}, a))
        return a.accepted;
    QMessageBox box(QMessageBox::Question, caption, question, QMessageBox::NoButton, parentWindow());
    QPushButton* yes = box.addButton(QStringLiteral("はい(&Y)"), QMessageBox::YesRole);
    box.addButton(QStringLiteral("いいえ(&N)"), QMessageBox::NoRole);
    box.exec();
    return box.clickedButton() == yes;
}

bool ChooseColor(TColor& color)
{
    DialogAnswer a;
    if (answered({DialogRequest::Color, {}, {}, {}, {}}, a)) {
        if (a.accepted)
            color = a.color;
        return a.accepted;
    }
    const QColor initial = QColor::fromRgb(ColorToArgb(color));
    const QColor chosen = QColorDialog::getColor(initial, parentWindow());
    if (!chosen.isValid())
        return false;
    color = static_cast<TColor>(chosen.red() | (chosen.green() << 8) | (chosen.blue() << 16));
    return true;
}

bool ChooseOpenFile(const QString& filter, const QString& title, QString& path)
{
    DialogAnswer a;
    if (answered({DialogRequest::OpenFile, {}, {}, filter, title}, a)) {
        if (a.accepted)
            path = a.text;
        return a.accepted;
    }
    // "description|pattern|description|pattern" -> "description (pattern);;..."
    QStringList parts = filter.split(QLatin1Char('|'));
    QStringList qtFilters;
    for (int i = 0; i + 1 < parts.size(); i += 2)
        qtFilters << parts[i] + QStringLiteral(" (") + QString(parts[i + 1]).replace(QLatin1Char(';'), QLatin1Char(' ')) +
                         QStringLiteral(")");
    const QString chosen = QFileDialog::getOpenFileName(parentWindow(), title, QString(), qtFilters.join(QStringLiteral(";;")));
    if (chosen.isEmpty())
        return false;
    path = chosen;
    return true;
}
