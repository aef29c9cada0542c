// The main window: the skin, the two status labels, the progress gauge, the
// download button and the Close/Cancel button laid over it; the working
// folder, the publisher-layout test and the keys F1 (settings window, only
// in the publisher layout and while no transfer runs), F2 (proxy window, in
// every layout while no transfer runs) and F12 (version window, at any
// time).
//
// The working folder is the current directory at the window's creation
// followed by "/"; every file the program names itself lies there.
//
// The download (the download button): the configured address is fetched
// with HEAD (to learn the size from the captured header "DL.dat") and GET
// into the working folder, with a 100 ms progress display, the Close/Cancel
// button, a CRC check and the extraction of archives.
//
// Choices of this port where the system leaves them open:
//  - While a download runs, another activation of the (covered) download
//    button is ignored, so no second transfer starts on the HTTP component.
//  - The archive component is released after each extraction, as before,
//    and made anew for the next one (the test button, a second download).
//  - The local file name is the last segment of the address's path without
//    query and fragment, percent-decoded, as curl -O and browsers take it
//    ("app.zip?token=1" is "app.zip", "my%20app.zip" is "my app.zip"); an
//    address without any "/" is its own name. A name that is empty, "." or
//    "..", holds a "/", or is one of the program's own files ("DL.ini",
//    "DL.dat", the archiver libraries, the program ...) is refused with a
//    message before any request, and nothing is written.
//  - A 404 reply is acted on when the download ends (after the mirrors, if
//    any, have been tried): beep, "ファイルが存在しません", the program ends.
//    A 404 reply ends the program also when its request then fails.
//  - A reply of 400 or more other than 404 to the GET ends the download
//    (after the mirrors) with "error" and, on a second line, the reply's
//    number and meaning, then the Stopped display; the error page is not
//    kept, nothing is checked or extracted. A 503 or another transient
//    reply is tried again first, so "error" is shown once, at the end.
//  - Content-Length is read as a 64-bit number, so files of 2 GiB and more
//    get their size; the received byte count is 64-bit as well.
//  - Closing the main window during a transfer (or a wait before trying
//    again) aborts it, so the program ends at once instead of finishing the
//    download unseen; the download then stops without a message, check or
//    extraction.
//  - The download never reports a failure as success and never destroys
//    the last good file (TDownload, app/Download.h): the HEAD touches no
//    body file, the GET goes to "NAME.part" and is renamed over NAME only
//    when complete and checked (the pin "DL.sha256", the publisher's
//    signature for "DL.pub", the CRC: TVerification), and a transient
//    failure is tried again by itself, resuming the part, then the mirrors
//    of "DL.mirrors" in order. The progress counts the resumed bytes too;
//    while it waits to try again the status label counts the seconds, and
//    the Close/Cancel button cancels the wait.
//  - One download at a time in a folder (TFolderLock on "DL.lock"): a
//    second copy pressed in the same folder says so and touches nothing.
//  - Every failure but the user's own cancel (a beep, as before) ends in
//    the Stopped display with a message that says what happened, in the
//    user's words (TMessages, app/Messages.h), chosen from the failure
//    itself, not from LastErrorNo. A server that closes without a status
//    line is a failed download. Exceptions of another kind are shown in the
//    standard error box, then the Stopped display follows.
//  - Extraction is part of the outcome and is all or nothing (TStaging): a
//    nonzero result of the library is a failed download with a message
//    naming the library's result and the folder is as it was; the
//    downloaded file stays.
//  - The download's waits are bounded by an inactivity limit (IdleLimit,
//    60 s without a byte) and a connection limit (ConnectLimit, 30 s), not
//    by a limit on the whole transfer.
//  - The progress text (Label2) keeps the form's place while it fits left
//    of the buttons; a longer one (files of a gigabyte and more) moves
//    left and, longer still, is set smaller, down to 8 pixels, so that it
//    stays readable and never runs under the Close/Cancel button.
//  - After any failure the status label says "失敗しました" (a cancel says
//    "中断しました" as before), never "受信中"; the message box says why.
//  - Whenever the Close/Cancel button is shown over the download button, the
//    keyboard focus moves to it (Return and Space then do what its caption
//    says, and it is raised as a focused button is); the covered download
//    button hands the focus on and takes no Return, Space or accelerator
//    until the Close/Cancel button is hidden again, and then has the focus
//    back. A Return or Space still held from the press that started the
//    download does not act on the Close/Cancel button through its repeats.
#pragma once
#include "controls/CuteBtn.h"
#include "controls/Gauges.h"
#include "net/NMHttp.h"
#include "platform/MessageWindow.h"
#include "platform/Keys.h"
#include "runtime/Classes.h"
#include "runtime/Image.h"
#include "runtime/Label.h"
#include "runtime/StringList.h"

#include <QPushButton>
#include <QTimer>
#include <QWidget>

#include <cstdint>
#include <memory>
#include <string>

class TArchiveFile;
class TDownload;

class TForm1 : public QWidget, public TObject {
public:
    TForm1();
    ~TForm1() override;

    // The download's limits: a connection (lookup, connect, TLS handshake)
    // and the wait for the next byte, in milliseconds.
    static constexpr int ConnectLimit = 30000;
    static constexpr int IdleLimit = 60000;
    // The first wait before a download tries again, in milliseconds; it
    // doubles up to 30 s (TDownload).
    int RetryWait = 1000;

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
    std::unique_ptr<TNMHTTP> NMHTTP1;
    std::unique_ptr<TArchiveFile> ArchiveFile1; // released after each extraction

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
    void NMHTTP1Status(TObject* Sender, const std::string& Status);
    void NMHTTP1Failure(TObject* Sender, CmdType Cmd);

    // The name the file of the address is saved under: the last segment of
    // its path, without query and fragment, percent-decoded, at most 10000
    // characters.
    static std::string LocalFileName(const std::string& address);
    // Why the name cannot be saved in the working folder (empty, ".",
    // "..", a "/", one of the program's own files), or empty.
    static std::string NameProblem(const std::string& name);
    // Extracts an archive into the working folder, all members or none;
    // the user's text for a failure, empty on success.
    std::string ExtractArchive(const std::string& path);
    // The progress text for b bytes received of a size in Kbyte.
    static QString ProgressText(std::int64_t bytesReceived, std::int32_t sizeKB, int* percent = nullptr);
    // The window handle the archiver libraries get as owner.
    HWND Handle() const { return handleWindow_->Handle(); }
    bool Downloading() const { return downloading_; }

    // All three markers exist in the working folder: "マニュアル.html",
    // the folders "Data" and "DSkin" (tested in that order).
    bool PublisherLayout() const;

    // The built-in skin picture.
    static QImage BuiltInSkin();
    static void RegisterPictures();

protected:
    void keyPressEvent(QKeyEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void Download();
    // Loads the captured reply header ("DL.dat") into ListBox1, deletes it
    // and, when the size is not configured, takes it from there.
    void ReadHeaderCapture();
    // Keeps the progress text readable and clear of the buttons.
    void FitLabel2();
    // The Close/Cancel button is shown (not hidden) and lies over the
    // download button.
    bool DownloadButtonCovered() const;
    // The keyboard follows the Close/Cancel button as it is shown or hidden.
    void CloseButtonShown();
    void CloseButtonHidden();
    // A key event on one of the two buttons: true when it is swallowed.
    bool FilterButtonKey(QObject* button, QKeyEvent* event);
    int heldKey_ = 0; // Return or Space went down on the download button
    std::unique_ptr<TMessageWindow> handleWindow_;
    bool downloading_ = false;
    TDownload* download_ = nullptr; // the running download
    bool userCancel_ = false;
    bool closing_ = false;
};

extern TForm1* Form1;
