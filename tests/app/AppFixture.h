// A fresh working folder with the program's windows created in it, as the
// program starts them, and every box answered and recorded.
#pragma once
#include "app/Unit1.h"
#include "app/Unit2.h"
#include "app/Unit3.h"
#include "runtime/Dialogs.h"

#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <deque>
#include <functional>
#include <memory>
#include <string>
#include <vector>

class AppFixture : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;

    // Creates the main, settings and proxy windows in the working folder.
    void Start();
    std::string Dir() const { return dir_->path().toStdString() + "/"; }
    // XDG_CONFIG_HOME while the test runs: "config" in the working folder
    // (not made).
    QString ConfigHome() const { return dir_->path() + QStringLiteral("/config"); }
    void WriteFile(const std::string& name, const std::string& bytes) const;
    std::string ReadFile(const std::string& name) const;
    // Writes the stored form of the lines as "DL.ini".
    void WriteSettings(const std::vector<std::string>& lines) const;
    // Downloads url with one press, which must fail: the Stopped display
    // with the status "失敗しました". The text of the last box shown (empty
    // when none was).
    std::string FailedDownload(const std::string& url);

    // Recorded boxes and the answers to give (in order; default: accept).
    std::vector<DialogRequest> shown;
    std::deque<DialogAnswer> answers;
    std::vector<std::string> Kinds() const;

    std::unique_ptr<QTemporaryDir> dir_;
    std::string previousDir_;
    QByteArray previousConfigHome_;
    bool hadConfigHome_ = false;
    std::unique_ptr<TForm1> form1;
    std::unique_ptr<TForm2> form2;
    std::unique_ptr<TForm3> form3;
};
