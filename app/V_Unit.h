// The version window: who made the program and how to reach them. A new
// window is made for every showing (F12 in the main window), so each one
// starts with the short name again; a click on the name shows the full name
// with its reading.
#pragma once
#include "controls/CuteBtn.h"
#include "runtime/Classes.h"
#include "runtime/Label.h"

#include <QDialog>
#include <QLineEdit>

class TV_Form : public QDialog, public TObject {
public:
    explicit TV_Form(QWidget* parent = nullptr);

    TLabel* Label1;
    TLabel* Label2;
    TLabel* Label3;
    QLineEdit* Edit1;
    TCuteButton* CuteButton1;

    void Label2Click();
    void CuteButton1Click(TObject* Sender);

    static const char* const ShortName;
    static const char* const FullName;
    static const char* const MailAddress;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
};
