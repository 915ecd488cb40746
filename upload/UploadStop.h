#pragma once
// Breaks off a running upload from another thread. Request() marks the upload stopped and shuts
// its connection down, which wakes any wait on it (a reply, room to send) at once; the exchange
// then ends at its next step. A connect in progress ends within its own time-out.

#include <mutex>

class TUploadStop {
public:
    // Any thread, any time, any number of times.
    void Request();
    bool Requested() const;

    // The exchange registers its connection while it is open; the guard unregisters it before
    // the connection is closed, so a late Request never touches a reused descriptor.
    class Attachment {
    public:
        Attachment(TUploadStop* stop, int socket);
        ~Attachment();
        Attachment(const Attachment&) = delete;
        Attachment& operator=(const Attachment&) = delete;

    private:
        TUploadStop* FStop;
    };

private:
    mutable std::mutex FMutex;
    bool FRequested = false;
    int FSocket = -1;
};
