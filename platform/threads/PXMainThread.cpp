// The main-thread executor and its stand-in dispatcher thread.
#include "platform/threads/PXMainThread.h"

#include <pthread.h>

#include <chrono>
#include <condition_variable>
#include <deque>
#include <iostream>
#include <mutex>
#include <thread>

#include "platform/base/PXErrors.h"

namespace pixora {

namespace {

struct TMainThreadState {
    std::mutex Lock;
    std::condition_variable Changed;
    std::deque<std::function<void()>> Queue;
    bool HasMain = false;
    std::thread::id Main;
    std::thread Dispatcher;      // joinable while the dispatcher serves the queue
    std::thread::id DispatcherId;
    bool Quit = false;
    TThreadErrorHandler OnError;

    ~TMainThreadState() {
        std::thread dispatcher;
        {
            std::lock_guard lock(Lock);
            Quit = true;
            Queue.clear();
            dispatcher = std::move(Dispatcher);
        }
        Changed.notify_all();
        if (!dispatcher.joinable()) return;
        if (dispatcher.get_id() == std::this_thread::get_id())
            dispatcher.detach();  // the process is exiting from a work item
        else
            dispatcher.join();
    }
};

TMainThreadState& State() {
    static TMainThreadState state;
    return state;
}

void RunGuarded(TMainThreadState& s, const std::function<void()>& work) {
    try {
        work();
    } catch (...) {
        TThreadErrorHandler onError;
        {
            std::lock_guard lock(s.Lock);
            onError = s.OnError;
        }
        try {
            if (onError) {
                onError(std::current_exception());
            } else {
                try {
                    throw;
                } catch (const std::exception& e) {
                    std::cerr << "Main-thread work failed: " << e.what() << '\n';
                } catch (...) {
                    std::cerr << "Main-thread work failed with an unknown exception\n";
                }
            }
        } catch (...) {
            // A failing error handler must not stop the queue.
        }
    }
}

void DispatcherLoop(TMainThreadState& s) {
    pthread_setname_np(pthread_self(), "PXMainDispatch");
    const std::thread::id self = std::this_thread::get_id();
    std::unique_lock lock(s.Lock);
    for (;;) {
        s.Changed.wait(lock, [&] { return s.Quit || s.DispatcherId != self || !s.Queue.empty(); });
        // A main thread took over (SetMainThread cleared our id) or the process exits.
        if (s.Quit || s.DispatcherId != self) return;
        std::function<void()> work = std::move(s.Queue.front());
        s.Queue.pop_front();
        lock.unlock();
        RunGuarded(s, work);
        work = nullptr;  // captured objects go before the lock is taken again
        lock.lock();
    }
}

// s.Lock held.
void EnsureDispatcher(TMainThreadState& s) {
    if (s.Dispatcher.joinable() || s.Quit) return;
    s.Dispatcher = std::thread([&s] { DispatcherLoop(s); });
    s.DispatcherId = s.Dispatcher.get_id();
}

}  // namespace

void TMainThread::Execute(std::function<void()> work) {
    if (!work) throw EPXError("Main-thread work is empty");
    TMainThreadState& s = State();
    const std::thread::id self = std::this_thread::get_id();
    bool runNow;
    {
        std::lock_guard lock(s.Lock);
        runNow = s.HasMain ? self == s.Main : (s.Dispatcher.joinable() && self == s.DispatcherId);
        if (!runNow) {
            s.Queue.push_back(std::move(work));
            if (!s.HasMain) EnsureDispatcher(s);
        }
    }
    if (runNow)
        RunGuarded(s, work);
    else
        s.Changed.notify_all();
}

void TMainThread::SetMainThread() {
    TMainThreadState& s = State();
    std::thread dispatcher;
    {
        std::lock_guard lock(s.Lock);
        if (s.Dispatcher.joinable() && std::this_thread::get_id() == s.DispatcherId)
            throw EPXError("The main-thread dispatcher cannot become the main thread");
        s.HasMain = true;
        s.Main = std::this_thread::get_id();
        dispatcher = std::move(s.Dispatcher);
        s.DispatcherId = {};
    }
    s.Changed.notify_all();
    if (dispatcher.joinable()) dispatcher.join();
}

void TMainThread::ClearMainThread() {
    TMainThreadState& s = State();
    {
        std::lock_guard lock(s.Lock);
        s.HasMain = false;
        s.Main = {};
        if (!s.Queue.empty()) EnsureDispatcher(s);
    }
    s.Changed.notify_all();
}

bool TMainThread::IsMainThread() {
    TMainThreadState& s = State();
    std::lock_guard lock(s.Lock);
    return s.HasMain && s.Main == std::this_thread::get_id();
}

bool TMainThread::HasMainThread() {
    TMainThreadState& s = State();
    std::lock_guard lock(s.Lock);
    return s.HasMain;
}

int TMainThread::ProcessPending() {
    TMainThreadState& s = State();
    std::unique_lock lock(s.Lock);
    if (!s.HasMain || s.Main != std::this_thread::get_id())
        throw EPXError("Main-thread work can only be processed on the main thread (see SetMainThread)");
    std::size_t remaining = s.Queue.size();
    int done = 0;
    while (remaining > 0 && !s.Queue.empty()) {
        std::function<void()> work = std::move(s.Queue.front());
        s.Queue.pop_front();
        --remaining;
        lock.unlock();
        RunGuarded(s, work);
        work = nullptr;
        ++done;
        lock.lock();
    }
    return done;
}

bool TMainThread::WaitAndProcess(int timeoutMs) {
    TMainThreadState& s = State();
    {
        std::unique_lock lock(s.Lock);
        if (!s.HasMain || s.Main != std::this_thread::get_id())
            throw EPXError("Main-thread work can only be processed on the main thread (see SetMainThread)");
        const auto ready = [&] { return !s.Queue.empty(); };
        if (timeoutMs < 0)
            s.Changed.wait(lock, ready);
        else
            s.Changed.wait_for(lock, std::chrono::milliseconds(timeoutMs), ready);
    }
    return ProcessPending() > 0;
}

void TMainThread::SetErrorHandler(TThreadErrorHandler onError) {
    TMainThreadState& s = State();
    std::lock_guard lock(s.Lock);
    s.OnError = std::move(onError);
}

}  // namespace pixora
