#include "gui/ProcessEnd.h"

#include <QGuiApplication>

#include <cstdio>

#include <unistd.h>

int EndBeforeWindowSystemTeardown(int status, const std::function<void()>& cleanUp)
{
    if (QGuiApplication::platformName() != QLatin1String("wayland"))
        return status;
    if (cleanUp)
        cleanUp();
    std::fflush(nullptr);
    _exit(status);
}
