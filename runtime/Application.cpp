#include "runtime/Application.h"

#include "platform/MessageWindow.h"
#include "runtime/Dialogs.h"
#include "runtime/Exceptions.h"

#include <QApplication>
#include <QCoreApplication>
#include <QGuiApplication>

TApplication& TApplication::Instance()
{
    static TApplication app;
    return app;
}

TApplication::TApplication()
{
    // Exceptions that escape message procedures and timers of the hidden
    // windows end up in the standard error box as well.
    SetMessageExceptionHook([](std::exception_ptr e) { TApplication::Instance().HandleException(e); });
}

void TApplication::SetTitle(const QString& title)
{
    title_ = title;
    QCoreApplication::setApplicationName(title);
}

void TApplication::SetIcon(const QIcon& icon)
{
    icon_ = icon;
    if (qobject_cast<QGuiApplication*>(QCoreApplication::instance()))
        QGuiApplication::setWindowIcon(icon);
}

void TApplication::Terminate()
{
    terminated_ = true;
    QCoreApplication::exit(0);
}

void TApplication::Revive()
{
    if (!terminated_)
        return;
    terminated_ = false;
    // The loops refuse to run after an exit until the main loop has started
    // anew; start it and leave it at once.
    QMetaObject::invokeMethod(QCoreApplication::instance(), [] { QCoreApplication::exit(0); }, Qt::QueuedConnection);
    QCoreApplication::exec();
}

int TApplication::Run()
{
    if (terminated_)
        return 0;
    return QCoreApplication::exec();
}

void TApplication::ProcessMessages()
{
    ::ProcessMessages();
}

QString TApplication::ErrorBoxText(const std::string& message)
{
    QString text = QString::fromStdString(message);
    if (text.isEmpty())
        return text;
    const QChar last = text.back();
    const bool punctuated = (last.unicode() <= '.' && last.unicode() >= ' ') || last == QChar(0x3002) ||
                            last == QChar(0xFF0E) || last == QChar(0xFF01) || last == QChar(0xFF1F);
    if (!punctuated)
        text += QLatin1Char('.');
    return text;
}

void TApplication::HandleException(std::exception_ptr error)
{
    ShowException(ExceptionMessage(error));
}

void TApplication::ShowException(const std::string& message)
{
    ShowErrorBox(ErrorBoxText(message));
}
