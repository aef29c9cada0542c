// The main window: the skin, the two status labels, the progress gauge, the
// download button and the Close/Cancel button laid over it; the working
// folder, the publisher-layout test and the keys F1 (settings window, only
// in the publisher layout and while no transfer runs) and F12 (version
// window, at any time).
//
// The working folder is the current directory at the window's creation
// followed by "/"; every file the program names itself lies there.
#pragma once
#include "controls/CuteBtn.h"
#include "controls/Gauges.h"
#include "platform/Keys.h"
#include "runtime/Classes.h"
#include "runtime/Image.h"
#include "runtime/Label.h"
#include "runtime/StringList.h"

#include <QPushButton>
#include <QTimer>
#include <QWidget>

#include <cstdint>
#include <string>

class TForm1 : public QWidget, public TObject {
public:
    TForm1();
    ~TForm1() override;

    // Controls, in the form's order.
    TImage* Image1;
    TLabel* Label1;
    TLabel* Label2;
    TGauge* Gauge1;
    TCuteButton* CuteButton1;
    TCuteButton* CuteButton2;
    QPushButton* Button2;
    TStringList Settei_ListBox; // line buffer of the settings file
    TStringList ListBox1;       // line buffer of the captured reply header
    QTimer* Timer1;

    // Window state (start empty, false or 0).
    std::string DL_URL;
    bool Pass_OK = false;
    bool DL_OK = false;
    std::string Work_Dir;
    std::int32_t Size_KB = 0;
    std::string Check_CRC;
    std::string ICO_File;
    bool Size_Unknown = false;

    QString Caption() const { return windowTitle(); }
    void SetCaption(const QString& caption) { setWindowTitle(caption); }

    // Handlers.
    void FormCreate();
    void CuteButton1KeyDown(TObject* Sender, WORD& Key, TShiftState Shift);
    void CuteButton1Click(TObject* Sender);
    void CuteButton2Click(TObject* Sender);
    void Button2Click(TObject* Sender);
    void Timer1Timer(TObject* Sender);

    // All three markers exist in the working folder: "マニュアル.html",
    // the folders "Data" and "DSkin" (tested in that order).
    bool PublisherLayout() const;

    // The built-in skin picture.
    static QImage BuiltInSkin();
    static void RegisterPictures();

protected:
    void keyPressEvent(QKeyEvent* event) override;
};

extern TForm1* Form1;
