// "sfx32gui.dat": the windowed stub of self-extracting ZIP files. A small
// window asks for the destination folder (the self-extracting file's own
// folder unless changed), shows the progress member by member, and says at
// the end, clearly, whether everything was extracted; the user may stop it
// half-way (what was extracted stays).
//
//   sfx32gui.dat [-d DIR] [-y]   -d presets the folder; -y starts at once
//                                and closes the window at the end (exit
//                                status 0 only when every member is right)
//
// The window's texts are Japanese, as the program's are. Progress comes the
// way the libraries send it: the extraction calls SendMessageA of the
// program that runs it, here this stub's own.
#include "ArchiverApi.h"
#include "core/Listing.h"
#include "core/Progress.h"
#include "sfx/SelfArchive.h"

#include <QApplication>
#include <QFileDialog>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QProgressBar>
#include <QPushButton>
#include <QTimer>
#include <QVBoxLayout>
#include <QWidget>

#include <iostream>

namespace {

QProgressBar* g_bar = nullptr;
QLabel* g_status = nullptr;
bool g_stop = false;

} // namespace

// The extraction's progress, as the libraries send it to an owner window.
extern "C" __attribute__((visibility("default"))) unsigned RegisterWindowMessageA(const char*) { return 0xC000; }

extern "C" __attribute__((visibility("default"))) intptr_t SendMessageA(uintptr_t, unsigned, uintptr_t state,
                                                                       intptr_t lParam)
{
    auto* info = reinterpret_cast<const EXTRACTINGINFOEX*>(lParam);
    if (state == ARCEXTRACT_BEGIN && g_status && info)
        g_status->setText(QString::fromUtf8(info->SourceFileName));
    if (state == ARCEXTRACT_END && g_bar)
        g_bar->setValue(g_bar->value() + 1);
    QApplication::processEvents();
    return g_stop ? 1 : 0;
}

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    QString preset;
    bool automatic = false;
    const QStringList args = app.arguments();
    for (int i = 1; i < args.size(); ++i) {
        if (args[i] == "-d" && i + 1 < args.size())
            preset = args[++i];
        else if (args[i] == "-y")
            automatic = true;
    }

    arc::SelfArchive self({arc::Kind::Zip}, argc > 0 ? argv[0] : nullptr);
    const QString selfPath = QString::fromStdString(self.Path());
    QWidget window;
    window.setWindowTitle(QFileInfo(selfPath).fileName() + QString::fromUtf8(" - 自己解凍"));
    auto* layout = new QVBoxLayout(&window);
    layout->addWidget(new QLabel(QString::fromUtf8("展開先のフォルダ:")));
    auto* row = new QHBoxLayout;
    auto* folder = new QLineEdit(preset.isEmpty() ? QFileInfo(selfPath).absolutePath() : preset);
    folder->setMinimumWidth(320);
    auto* browse = new QPushButton(QString::fromUtf8("参照..."));
    row->addWidget(folder);
    row->addWidget(browse);
    layout->addLayout(row);
    g_bar = new QProgressBar;
    g_status = new QLabel;
    layout->addWidget(g_bar);
    layout->addWidget(g_status);
    auto* buttons = new QHBoxLayout;
    auto* start = new QPushButton(QString::fromUtf8("展開"));
    auto* close = new QPushButton(QString::fromUtf8("閉じる"));
    buttons->addStretch();
    buttons->addWidget(start);
    buttons->addWidget(close);
    layout->addLayout(buttons);

    int exitCode = 1;
    bool running = false;
    if (!self.Found()) {
        g_status->setText(QString::fromUtf8("展開できません: ") + QString::fromStdString(self.Why()));
        start->setEnabled(false);
    } else {
        g_bar->setRange(0, static_cast<int>(arc::ListArchive(arc::Kind::Zip, self.Path()).members.size()));
        g_bar->setValue(0);
        g_status->setText(QString::fromUtf8("「展開」を押すと展開が始まります。"));
    }
    QObject::connect(browse, &QPushButton::clicked, [&] {
        QString chosen = QFileDialog::getExistingDirectory(&window, QString::fromUtf8("展開先のフォルダ"), folder->text());
        if (!chosen.isEmpty())
            folder->setText(chosen);
    });
    // Closing the window while it extracts stops the extraction, as 中止 does.
    QObject::connect(&app, &QGuiApplication::lastWindowClosed, [&] {
        if (running)
            g_stop = true;
    });
    QObject::connect(close, &QPushButton::clicked, [&] {
        if (running)
            g_stop = true;
        else
            app.quit();
    });
    auto extract = [&] {
        running = true;
        start->setEnabled(false);
        browse->setEnabled(false);
        folder->setEnabled(false);
        close->setText(QString::fromUtf8("中止"));
        arc::SetOwner(1);
        std::string log;
        int extracted = 0;
        int r = self.Extract(folder->text().toStdString(), log, extracted);
        arc::KillOwner(1);
        running = false;
        close->setText(QString::fromUtf8("閉じる"));
        exitCode = r == 0 ? 0 : 1;
        QString message = r == 0 ? QString::fromUtf8("展開しました (%1 個)。").arg(extracted)
                                 : QString::fromUtf8("展開できませんでした: ")
                                       + QString::fromStdString(arc::SelfArchive::FirstError(log, r));
        g_status->setText(message);
        if (r != 0)
            std::cerr << QFileInfo(selfPath).fileName().toStdString() << ": " << arc::SelfArchive::FirstError(log, r)
                      << "\n";
        if (automatic || !window.isVisible())
            app.quit();
        else
            QMessageBox::information(&window, window.windowTitle(), message);
    };
    QObject::connect(start, &QPushButton::clicked, extract);
    window.show();
    if (automatic) {
        if (!self.Found()) {
            std::cerr << QFileInfo(selfPath).fileName().toStdString() << ": " << self.Why() << "\n";
            return 1;
        }
        QTimer::singleShot(0, extract);
    }
    app.exec();
    return exitCode;
}
