// RunBridge: runs one job on a thread of its own and connects it to the
// window. The GUI thread never runs engine code: it starts the run, asks it
// to stop, and hears of its progress through a tick at about 30 a second
// (coalesced however small the entries) and of its end through Finished.
// Questions of the run (message boxes, overwrite, password) are asked on the
// GUI thread while the run waits for the answer (OnGuiThread).
#pragma once

#include <QObject>
#include <QTimer>
#include <atomic>
#include <exception>
#include <functional>
#include <memory>
#include <thread>

namespace ui {

class RunBridge : public QObject {
    Q_OBJECT
public:
    explicit RunBridge(QObject* parent = nullptr);
    // Cancels a run under way and waits for it; a question it is waiting on
    // gets the answer of a user who declines.
    ~RunBridge() override;

    // Starts work on a thread of its own; nothing when a run is under way.
    // cancel is called on the run's thread at each of its poll points once
    // Cancel() has been asked (a job's Cancel, which stops its engine too).
    void Start(std::function<void()> work, std::function<void()> cancel);
    // A run has started and Finished has not yet been emitted.
    bool Running() const { return running_; }
    // Asks the run to stop at its next poll point.
    void Cancel();
    bool Cancelled() const { return cancelled_; }
    // The exception that ended the last run, or none; rethrow it to tell.
    std::exception_ptr Error() const { return error_; }

signals:
    // About 30 times a second while a run is under way, and once at its end
    // before Finished: the time to show what the run has reached.
    void Tick();
    // On the GUI thread once the run's thread has ended.
    void Finished();

private:
    // On the GUI thread once the run's thread has ended with error.
    void Join(std::exception_ptr error);

    std::thread thread_;
    std::atomic<bool> cancelled_{false};
    std::shared_ptr<std::atomic<bool>> abandoned_;  // the window is going: questions give up
    bool running_ = false;
    std::exception_ptr error_;
    QTimer ticker_;
};

// Runs task on the GUI thread and waits for it: at once on the GUI thread;
// from another thread, until the GUI thread has run it. False, with task not
// run, when the bridge of the calling run is being destroyed meanwhile.
bool RunOnGuiThread(const std::function<void()>& task);

// ask's answer, asked on the GUI thread (RunOnGuiThread); fallback when the
// run's bridge went before the answer came.
template <class T>
T OnGuiThread(const std::function<T()>& ask, T fallback)
{
    T answer = fallback;
    return RunOnGuiThread([&] { answer = ask(); }) ? answer : fallback;
}

}  // namespace ui
