#include "fuzz/FuzzApp.h"

#include <QApplication>
#include <QByteArray>

#include <cstdio>

namespace fuzz {

namespace {

// Qt's readers complain about every broken picture ("QBuffer::seek:
// Invalid pos ..."); at thousands of inputs a second that is only noise.
void quiet(QtMsgType type, const QMessageLogContext&, const QString& message)
{
    if (type == QtFatalMsg)
        std::fprintf(stderr, "%s\n", message.toLocal8Bit().constData());
}

} // namespace

void EnsureApplication()
{
    if (QCoreApplication::instance())
        return;
    qInstallMessageHandler(quiet);
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    static int argc = 1;
    static char name[] = "fuzz";
    static char* argv[] = {name, nullptr};
    // Lives as long as the process: nothing may outlive it that needs it.
    static QApplication* application = new QApplication(argc, argv);
    (void)application;
}

} // namespace fuzz
