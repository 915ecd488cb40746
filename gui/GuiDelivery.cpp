#include "gui/GuiDelivery.h"

#include <QMetaObject>
#include <QObject>
#include <QThread>

#include <condition_variable>
#include <mutex>

struct GuiDelivery::Shared {
    std::mutex mutex;
    QObject* context = nullptr; // null once closed
};

namespace {

class Completion {
public:
    void Finish()
    {
        {
            std::lock_guard lock(FMutex);
            FFinished = true;
        }
        FDone.notify_all();
    }

    void Wait()
    {
        std::unique_lock lock(FMutex);
        FDone.wait(lock, [this] { return FFinished; });
    }

private:
    std::mutex FMutex;
    std::condition_variable FDone;
    bool FFinished = false;
};

// Held only by the posted call: it finishes the wait when the call has run, and also when Qt
// drops the call unrun because its context object went away.
class FinishWhenDropped {
public:
    explicit FinishWhenDropped(std::shared_ptr<Completion> completion)
        : FCompletion(std::move(completion))
    {
    }
    ~FinishWhenDropped() { FCompletion->Finish(); }
    FinishWhenDropped(const FinishWhenDropped&) = delete;
    FinishWhenDropped& operator=(const FinishWhenDropped&) = delete;

private:
    std::shared_ptr<Completion> FCompletion;
};

} // namespace

// Qt hands a posted call to the other thread through locks of its own that ThreadSanitizer cannot
// see (Qt is not built with it); this lock, taken on both sides, shows it the hand-over.
static std::mutex& PostingMutex()
{
    static std::mutex mutex;
    return mutex;
}

void PostToThreadOf(QObject* context, std::function<void()> call)
{
    std::lock_guard posting(PostingMutex());
    QMetaObject::invokeMethod(
        context,
        [call = std::move(call)] {
            {
                std::lock_guard posted(PostingMutex());
            }
            call();
        },
        Qt::QueuedConnection);
}

GuiDelivery::GuiDelivery()
    : FShared(std::make_shared<Shared>())
    , FContext(std::make_unique<QObject>())
{
    FShared->context = FContext.get();
}

GuiDelivery::~GuiDelivery()
{
    Close();
}

TRecvThread::Delivery GuiDelivery::Function() const
{
    return [shared = FShared](const std::function<void()>& call) {
        std::unique_lock lock(shared->mutex);
        if (shared->context == nullptr)
            return;
        if (QThread::currentThread() == shared->context->thread()) {
            lock.unlock();
            call();
            return;
        }
        auto completion = std::make_shared<Completion>();
        auto finisher = std::make_shared<FinishWhenDropped>(completion);
        PostToThreadOf(shared->context, [finisher, &call] { call(); });
        finisher.reset();
        lock.unlock();
        completion->Wait();
    };
}

TRecvThread::Posting GuiDelivery::Posting() const
{
    return [shared = FShared](std::function<void()> call) {
        std::lock_guard lock(shared->mutex);
        if (shared->context != nullptr)
            PostToThreadOf(shared->context, std::move(call));
    };
}

void GuiDelivery::Close()
{
    {
        std::lock_guard lock(FShared->mutex);
        FShared->context = nullptr;
    }
    // Destroying the context discards the calls posted to it, which releases their workers.
    FContext.reset();
}
