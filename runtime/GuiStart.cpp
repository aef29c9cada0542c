#include "runtime/GuiStart.h"

#include <QString>
#include <QStringList>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

struct HeldMessage {
    QtMsgType type;
    std::string category;
    QString text;
};

const char* programName = "";
std::vector<HeldMessage>* held = nullptr;

void holdMessage(QtMsgType type, const QMessageLogContext& context, const QString& text)
{
    if (type != QtFatalMsg) {
        held->push_back({type, context.category ? context.category : "", text});
        return;
    }
    // Why: the first message Qt gave on its way here (the platform plugin's
    // own, such as "could not connect to display :5"), else the first line
    // of the fatal one.
    QString why = held->empty() ? text.section(QLatin1Char('\n'), 0, 0) : held->front().text;
    why = why.trimmed();
    std::fprintf(stderr, "%s: no display to show the windows on (%s)\n", programName, qPrintable(why));
    std::fflush(stderr);
    std::_Exit(1);
}

} // namespace

std::unique_ptr<QApplication> MakeGuiApplication(int& argc, char** argv, const char* name)
{
    std::vector<HeldMessage> messages;
    programName = name;
    held = &messages;
    const QtMessageHandler previous = qInstallMessageHandler(holdMessage);
    auto application = std::make_unique<QApplication>(argc, argv);
    qInstallMessageHandler(previous);
    held = nullptr;
    for (const HeldMessage& m : messages) {
        const QMessageLogContext context(nullptr, 0, nullptr, m.category.empty() ? nullptr : m.category.c_str());
        if (previous)
            previous(m.type, context, m.text);
        else
            qt_message_output(m.type, context, m.text);
    }
    return application;
}
