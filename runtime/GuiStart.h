// The Qt application object of a program that shows windows. Qt ends a
// process that it cannot give a display with an abort and several lines of
// its own; here the program says so in one line on standard error,
// "NAME: no display to show the windows on (WHY)", and ends with exit code
// 1. Qt's other messages while the object is made are passed on as usual
// once it exists.
#pragma once
#include <QApplication>

#include <memory>

// argc and argv as main() got them; Qt takes its own options out of them.
std::unique_ptr<QApplication> MakeGuiApplication(int& argc, char** argv, const char* name);
