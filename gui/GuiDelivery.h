#pragma once
// Delivery of a worker's calls to the GUI thread: the worker waits until its call has run there.
//
// Make it on the GUI thread and hand Function() to the worker. Close() (also run by the
// destructor) drops calls still waiting, releasing their workers without running them, and makes
// later calls return at once; close it before stopping a worker whose Stop waits for its thread,
// so that a worker waiting for the GUI thread cannot dead-lock against it.

#include "comm/Recvthread.h"

#include <functional>
#include <memory>

class QObject;

// Runs call later on context's thread (a queued call). Use it for every call that another thread
// hands to the window thread: it also shows ThreadSanitizer the hand-over, which goes through Qt's
// own locks that it cannot see.
void PostToThreadOf(QObject* context, std::function<void()> call);

class GuiDelivery {
public:
    GuiDelivery();
    ~GuiDelivery();
    GuiDelivery(const GuiDelivery&) = delete;
    GuiDelivery& operator=(const GuiDelivery&) = delete;

    // A call from the GUI thread itself runs at once; never blocks the GUI thread on itself.
    TRecvThread::Delivery Function() const;
    // Posts calls to the GUI thread without waiting; once closed, calls are dropped unrun.
    TRecvThread::Posting Posting() const;
    void Close();

private:
    struct Shared;
    std::shared_ptr<Shared> FShared;
    std::unique_ptr<QObject> FContext;
};
