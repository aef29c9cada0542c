// The stored settings file through the real load, and the line lists it is
// made of.
//
// Input: the plain text of "DL.ini"; it is scrambled and written as the
// file, so the dictionary's words count (scrambling is one-to-one, so every
// stored file is reachable). Then the main window and the settings window
// are made in a working folder of their own, as the program starts them:
// the settings window's creation loads the file and applies it. The
// working folder's "Dskin" holds a skin and an icon the lines may name
// ("skin.bmp", "skin.jpg", "icon.ico"). Error boxes are answered and
// counted; the load never asks anything else.
//
// Checked: after the load no plain copy is left in the working folder; the
// line list splits and joins without change (and through a file); a stored
// file decoded, encoded and decoded again gives the same lines when its text
// had no undecodable bytes.
#include "app/SettingsFile.h"
#include "app/Unit1.h"
#include "app/Unit2.h"
#include "fuzz/FuzzApp.h"
#include "fuzz/FuzzSupport.h"
#include "platform/FileNames.h"
#include "runtime/Application.h"
#include "runtime/Dialogs.h"

#include <QImage>

#include <memory>
#include <sys/stat.h>

namespace {

struct Harness {
    fuzz::Scratch scratch{"settings"};
    int errorBoxes = 0;

    Harness()
    {
        const std::string skins = scratch / "Dskin";
        ::mkdir(skins.c_str(), 0755);
        QImage picture(8, 6, QImage::Format_RGB32);
        picture.fill(Qt::darkCyan);
        picture.save(QString::fromStdString(skins + "/skin.bmp"), "BMP");
        picture.save(QString::fromStdString(skins + "/skin.jpg"), "JPEG");
        QImage icon(16, 16, QImage::Format_ARGB32);
        icon.fill(Qt::yellow);
        icon.save(QString::fromStdString(skins + "/icon.ico"), "ICO");
    }
};

Harness& harness()
{
    static Harness* h = new Harness;
    return *h;
}

// The current folder for one run.
class InFolder {
public:
    explicit InFolder(const std::string& path) : previous_(GetCurrentDir()) { SetCurrentDir(path); }
    ~InFolder() { SetCurrentDir(previous_); }

private:
    std::string previous_;
};

bool sameLines(const TStringList& a, const TStringList& b) { return a.Lines() == b.Lines(); }

} // namespace

extern "C" int FUZZ_INITIALIZE(int*, char***)
{
    fuzz::EnsureApplication();
    harness();
    return 0;
}

extern "C" int FUZZ_TEST_ONE_INPUT(const std::uint8_t* data, std::size_t size)
{
    fuzz::EnsureApplication();
    Harness& h = harness();
    const std::string_view plain = fuzz::AsText(data, size);
    const std::string stored = ScrambleBytes(plain);

    {
        InFolder here(h.scratch.path());
        fuzz::WriteFile(h.scratch / "DL.ini", stored);
        const DialogResponder previous = SetDialogResponder([&h](const DialogRequest& request) {
            FUZZ_CHECK(request.kind == DialogRequest::Error || request.kind == DialogRequest::Beep,
                       "the load asked: " + request.text.toStdString());
            if (request.kind == DialogRequest::Error)
                ++h.errorBoxes;
            DialogAnswer answer;
            answer.accepted = true;
            return answer;
        });
        {
            auto main = std::make_unique<TForm1>();
            Application().SetMainForm(main.get());
            auto settings = std::make_unique<TForm2>();
            FUZZ_CHECK(!fuzz::Exists(h.scratch / "DL2.ini"), "a plain copy of the settings is left");
            settings.reset();
            Application().SetMainForm(nullptr);
        }
        SetDialogResponder(previous);
        Application().Revive();
    }

    // Line lists.
    TStringList lines;
    lines.SetText(plain);
    TStringList again;
    again.SetText(lines.Text());
    FUZZ_CHECK(sameLines(lines, again), lines.Text());
    const std::string listFile = h.scratch / "lines.txt";
    lines.SaveToFile(listFile);
    TStringList loaded;
    loaded.LoadFromFile(listFile);
    FUZZ_CHECK(sameLines(lines, loaded), lines.Text());

    const TStringList decoded = DecodeSettings(stored);
    FUZZ_CHECK(decoded.Count() == lines.Count(), std::to_string(decoded.Count()));
    if (decoded.Text().find("\xEF\xBF\xBD") == std::string::npos) {
        const TStringList twice = DecodeSettings(EncodeSettings(decoded));
        FUZZ_CHECK(sameLines(decoded, twice), decoded.Text() + "\n--\n" + twice.Text());
    }
    return 0;
}
