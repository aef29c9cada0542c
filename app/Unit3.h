// The proxy window: a proxy host and port. It is created at start-up and
// lives, hidden, as long as the program; no operation of the program shows
// it and nothing reads what it holds, so every download connects directly.
#pragma once
#include "controls/CuteBtn.h"
#include "runtime/Classes.h"
#include "runtime/Label.h"

#include <QCheckBox>
#include <QDialog>
#include <QLineEdit>

class TForm3 : public QDialog, public TObject {
public:
    explicit TForm3(QWidget* parent = nullptr);
    ~TForm3() override;

    QCheckBox* CheckBox1;
    TLabel* Label1;
    QLineEdit* Edit1;
    TLabel* Label2;
    QLineEdit* Edit2;
    TCuteButton* CuteButton1;

    void CheckBox1Click();
    void CuteButton1Click(TObject* Sender);

protected:
    void keyPressEvent(QKeyEvent* event) override;
};

extern TForm3* Form3;
