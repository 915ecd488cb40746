#include "gui/ErrorReportingApplication.h"

#include "gui/QtText.h"
#include "gui/UserDialogs.h"

#include <exception>

ErrorReportingApplication::ErrorReportingApplication(int& argc, char** argv)
    : QApplication(argc, argv)
{
}

bool ErrorReportingApplication::notify(QObject* receiver, QEvent* event)
{
    try {
        return QApplication::notify(receiver, event);
    } catch (const std::exception& error) {
        ShowException(error.what());
    } catch (...) {
        ShowException("");
    }
    return false;
}

void ErrorReportingApplication::ShowException(const char* message)
{
    UserDialogs::Error(
        nullptr, QApplication::applicationDisplayName(), ToQt(message != nullptr ? message : ""));
}
