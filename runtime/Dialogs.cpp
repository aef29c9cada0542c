#include "runtime/Dialogs.h"

#include "runtime/Application.h"

#include <QApplication>
#include <QColorDialog>
#include <QFileDialog>
#include <QFontMetrics>
#include <QGridLayout>
#include <QInputDialog>
#include <QMessageBox>
#include <QPushButton>
#include <QSpacerItem>
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

// Widens a message box to its caption: the box sizes itself to its text and
// buttons only, so a short text cut the caption off.
void fitCaption(QMessageBox& box)
{
    auto* grid = qobject_cast<QGridLayout*>(box.layout());
    if (!grid)
        return;
    grid->addItem(new QSpacerItem(CaptionWidth(box.windowTitle(), box.font()), 0, QSizePolicy::Minimum,
                                  QSizePolicy::Minimum),
                  grid->rowCount(), 0, 1, grid->columnCount());
}

int execMessageBox(QMessageBox& box)
{
    fitCaption(box);
    return box.exec();
}

QString askText(const QString& caption, const QString& prompt, const QString& defaultValue, bool masked)
{
    DialogRequest request{DialogRequest::Input, caption, prompt, defaultValue, {}};
    request.masked = masked;
    DialogAnswer a;
    if (answered(request, a))
        return a.accepted ? a.text : QString();
    bool ok = false;
    const QString text = QInputDialog::getText(parentWindow(), caption, prompt,
                                               masked ? QLineEdit::Password : QLineEdit::Normal, defaultValue, &ok);
    return ok ? text : QString();
}

} // namespace

int CaptionWidth(const QString& caption, const QFont& font)
{
    // The caption's text, an icon before it and three caption-bar buttons
    // after it, each about as wide as the bar is high.
    const QFontMetrics metrics(font);
    const int bar = metrics.height() + 12;
    return metrics.horizontalAdvance(caption) + 4 * bar + 16;
}

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
    execMessageBox(box);
}

void ShowErrorBox(const QString& text)
{
    DialogAnswer a;
    if (answered({DialogRequest::Error, Application().Title(), text, {}, {}}, a))
        return;
    QMessageBox box(QMessageBox::Critical, Application().Title(), text, QMessageBox::Ok, parentWindow());
    execMessageBox(box);
}

QString InputBox(const QString& caption, const QString& prompt, const QString& defaultValue)
{
    return askText(caption, prompt, defaultValue, false);
}

QString PasswordBox(const QString& caption, const QString& prompt, const QString& defaultValue)
{
    return askText(caption, prompt, defaultValue, true);
}

bool ConfirmYesNo(const QString& caption, const QString& question)
{
    DialogAnswer a;
    if (answered({DialogRequest::Confirm, caption, question, {}, {}}, a))
        return a.accepted;
    QMessageBox box(QMessageBox::Question, caption, question, QMessageBox::NoButton, parentWindow());
    QPushButton* yes = box.addButton(QStringLiteral("はい(&Y)"), QMessageBox::YesRole);
    box.addButton(QStringLiteral("いいえ(&N)"), QMessageBox::NoRole);
    execMessageBox(box);
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

QString QtFileFilter(const QString& filter)
{
    // "description|pattern|description|pattern" -> "description (pattern);;..."
    const QStringList parts = filter.split(QLatin1Char('|'));
    QStringList qtFilters;
    for (qsizetype i = 0; i + 1 < parts.size(); i += 2) {
        const QString& description = parts[i];
        const QString& pattern = parts[i + 1];
        const QString patterns = QString(pattern).replace(QLatin1Char(';'), QLatin1Char(' '));
        const QString shown = QLatin1Char('(') + pattern + QLatin1Char(')');
        if (description.endsWith(shown))
            qtFilters << description.chopped(shown.size()) + QLatin1Char('(') + patterns + QLatin1Char(')');
        else
            qtFilters << description + QStringLiteral(" (") + patterns + QLatin1Char(')');
    }
    return qtFilters.join(QStringLiteral(";;"));
}

bool ChooseOpenFile(const QString& filter, const QString& title, QString& path)
{
    DialogAnswer a;
    if (answered({DialogRequest::OpenFile, {}, {}, filter, title}, a)) {
        if (a.accepted)
            path = a.text;
        return a.accepted;
    }
    const QString chosen = QFileDialog::getOpenFileName(parentWindow(), title, QString(), QtFileFilter(filter));
    if (chosen.isEmpty())
        return false;
    path = chosen;
    return true;
}
