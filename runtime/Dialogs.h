// Every modal box and dialog of the program goes through one of these entry
// points, so that a test can answer them (and see what was shown) without a
// person: set a responder, and no real dialog opens.
//
// Message boxes carry the application title as caption and one OK button;
// every box is at least as wide as its caption needs (the caption bar's
// buttons included), however short its text.
#pragma once
#include "platform/SysColors.h"

#include <QFont>
#include <QString>

#include <functional>

struct DialogRequest {
    enum Kind { Beep, Message, Error, Input, Confirm, Color, OpenFile };
    Kind kind;
    QString caption;
    QString text;     // message, prompt or question
    QString value;    // input default, open-file filter
    QString title;    // open-file title
    bool masked = false; // input shown as bullets (a password)
};

struct DialogAnswer {
    bool accepted = false; // OK / Yes; false for Cancel / No
    QString text;          // typed text, chosen file
    TColor color = 0;      // chosen colour
};

using DialogResponder = std::function<DialogAnswer(const DialogRequest&)>;
// Installs a responder (empty: real dialogs again). Returns the previous one.
DialogResponder SetDialogResponder(DialogResponder responder);

// The default system beep.
void Beep();
// A box with the application title, the text and one OK button.
void ShowMessageBox(const QString& text);
// The standard error box (error icon).
void ShowErrorBox(const QString& text);
// Returns the typed text, or an empty text when cancelled.
QString InputBox(const QString& caption, const QString& prompt, const QString& defaultValue);
// The same with the typed text masked, for a password.
QString PasswordBox(const QString& caption, const QString& prompt, const QString& defaultValue);
// Question icon, "はい(&Y)" / "いいえ(&N)"; true only for yes.
bool ConfirmYesNo(const QString& caption, const QString& question);
// The colour dialog, opened with `color`; on confirmation stores the choice.
bool ChooseColor(TColor& color);
// The open-file dialog. filter is "description|pattern|..." as the form
// stores it; on confirmation stores the chosen path.
bool ChooseOpenFile(const QString& filter, const QString& title, QString& path);
// That filter in Qt's form ("description (patterns);;..."): a description
// that already ends in its pattern in parentheses is given as it stands, so
// the pattern is not shown twice.
QString QtFileFilter(const QString& filter);
// The least width of a box with this caption, in the box's font.
int CaptionWidth(const QString& caption, const QFont& font);
