#include "upload/UploadStop.h"

#include <sys/socket.h>

namespace {

// A reset instead of an orderly close: data still queued is dropped, so a broken-off upload
// never reaches the amplifier whole.
void BreakOff(int socket)
{
    const linger abort { 1, 0 };
    setsockopt(socket, SOL_SOCKET, SO_LINGER, &abort, sizeof abort);
    shutdown(socket, SHUT_RDWR);
}

} // namespace

void TUploadStop::Request()
{
    std::lock_guard lock(FMutex);
    FRequested = true;
    if (FSocket >= 0)
        BreakOff(FSocket);
}

bool TUploadStop::Requested() const
{
    std::lock_guard lock(FMutex);
    return FRequested;
}

TUploadStop::Attachment::Attachment(TUploadStop* stop, int socket)
    : FStop(stop)
{
    if (FStop == nullptr)
        return;
    std::lock_guard lock(FStop->FMutex);
    FStop->FSocket = socket;
    if (FStop->FRequested)
        BreakOff(socket);
}

TUploadStop::Attachment::~Attachment()
{
    if (FStop == nullptr)
        return;
    std::lock_guard lock(FStop->FMutex);
    FStop->FSocket = -1;
}
