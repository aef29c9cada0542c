// The settings window, where the publisher prepares a copy of the program:
// skin, icon, button text and colours, window title, the file's address,
// password, automatic extraction, the file's size and CRC, and the look of
// the progress display. Every change is applied to the main window at once.
//
// It is also the settings store: its creation loads "DL.ini" from the
// working folder and applies it to the main window; its close button saves
// the settings there; its reset button deletes them and ends the program.
//
// The file check measures the file's SHA-256 too, shown beside the group
// of size and CRC (SHA256_label, eight digits a line) without moving the
// form's controls. Saving writes it as the pin "DL.sha256" (sha256sum's
// line, naming the file the address gives); saving with the CRC left empty
// removes the pin, and saving without a new check keeps the pin there is.
//
// Saving with "自動で解凍する" ticked for an address whose file is no
// archive kind the program knows asks the publisher, naming the file,
// whether to untick it (Yes) or keep it (No), before anything is written.
//
// Text in "DL.ini" is code page 932; a character that has none is stored
// as "?" (what a Windows edit field would have kept).
#pragma once
#include "controls/CuteBtn.h"
#include "runtime/Classes.h"
#include "runtime/FileListBox.h"
#include "runtime/Image.h"
#include "runtime/Label.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDialog>
#include <QGroupBox>
#include <QLineEdit>
#include <QPushButton>

#include <array>
#include <memory>
#include <optional>

class TCRCList;

class TForm2 : public QDialog, public TObject {
public:
    explicit TForm2(QWidget* parent = nullptr);
    ~TForm2() override;

    // The file check's open-file dialog (OpenDialog2): filter and title.
    static const QString OpenDialog2Filter;
    static const QString OpenDialog2Title;

    TLabel* Label1;
    TFileListBox* FileListBox1;
    TLabel* Skin_Label;
    QGroupBox* GroupBox1;
    TCuteButton* ButtonColor;
    TLabel* Label3;
    QLineEdit* Button_moji_Edit;
    TCuteButton* Button_Font_Color;
    TLabel* Label4;
    QLineEdit* Form_Caption_Edit;
    TImage* ICO_Image;
    TFileListBox* FileListBox2;
    TLabel* Label2;
    QLineEdit* URL_Edit;
    QCheckBox* PASS_CheckBox;
    QLineEdit* pass_Edit;
    QCheckBox* LZH_CheckBox;
    QGroupBox* GroupBox2;
    TLabel* Label5;
    TLabel* CRC_label;
    TLabel* youryou_label;
    QPushButton* Button2;
    QGroupBox* GroupBox3;
    TLabel* Label6;
    TCuteButton* DL_moji_Color;
    TCuteButton* Gauge_Color;
    QComboBox* Gauge_ComboBox;
    TCuteButton* CuteButton2;
    TCuteButton* CuteButton1;
    std::unique_ptr<TCRCList> CRCList1;
    // The SHA-256 of the file check, or of the pin in the working folder.
    TLabel* SHA256_label;

    // Handlers.
    void FormCreate();  // the settings load
    void FormShow();
    // Left = screen width - window width, top = 0.
    void PlaceTopRight();
    void FileListBox1Click();
    void FileListBox2Click();
    void Button_moji_EditChange();
    void Form_Caption_EditChange();
    void PASS_CheckBoxClick();
    void ButtonColorClick(TObject* Sender);
    void Gauge_ComboBoxChange();
    void Button2Click();
    void CuteButton1Click(TObject* Sender); // save and close
    void CuteButton2Click(TObject* Sender); // reset

    // The colour dialog opens with the colour chosen last in it.
    TColor LastDialogColor = clBlack;

    // The SHA-256 the label shows ("" before any), as sha256sum writes it.
    static QString Sha256Text(const std::string& hex);

protected:
    void showEvent(QShowEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;

private:
    // Writes or removes "DL.sha256" as the settings are saved.
    void SavePin();
    std::optional<std::array<unsigned char, 32>> measuredSha256_; // from this run's file check
    std::string measuredName_;     // that file's own name
};

extern TForm2* Form2;
