#pragma once
// The program's application object. An exception that escapes an event handler (creating a thread
// can throw, so can the toolkit) is shown in an error message box with its message, and the
// program goes on with the next event.

#include <QApplication>

class ErrorReportingApplication : public QApplication {
public:
    ErrorReportingApplication(int& argc, char** argv);
    bool notify(QObject* receiver, QEvent* event) override;

    // The message box for an exception's message; also used for those that escape start-up.
    static void ShowException(const char* message);
};
