#include "ui/RunBridge.h"

#include <QCoreApplication>
#include <QThread>
#include <chrono>
#include <future>

#include "platform/Hooks.h"

namespace ui {

namespace {

// Set on a run's thread: true once its bridge is being destroyed.
thread_local std::shared_ptr<std::atomic<bool>> runAbandoned;

}  // namespace

bool RunOnGuiThread(const std::function<void()>& task)
{
    QCoreApplication* app = QCoreApplication::instance();
    if (!app || QThread::currentThread() == app->thread()) {
        task();
        return true;
    }
    const std::shared_ptr<std::atomic<bool>> abandoned = runAbandoned;
    auto done = std::make_shared<std::promise<void>>();
    std::future<void> answered = done->get_future();
    // task refers to the waiting caller's frame: once the caller has given
    // up, the GUI thread must not run it (abandoned is set on the GUI thread,
    // so the two cannot cross).
    QMetaObject::invokeMethod(
        app,
        [task, done, abandoned] {
            if (!abandoned || !*abandoned)
                task();
            done->set_value();
        },
        Qt::QueuedConnection);
    using namespace std::chrono_literals;
    while (answered.wait_for(20ms) != std::future_status::ready)
        if (abandoned && *abandoned)
            return false;
    return true;
}

RunBridge::RunBridge(QObject* parent) : QObject(parent)
{
    ticker_.setInterval(33);
    connect(&ticker_, &QTimer::timeout, this, &RunBridge::Tick);
}

RunBridge::~RunBridge()
{
    if (thread_.joinable()) {
        cancelled_ = true;
        *abandoned_ = true;
        thread_.join();
    }
}

void RunBridge::Start(std::function<void()> work, std::function<void()> cancel)
{
    if (running_)
        return;
    running_ = true;
    cancelled_ = false;
    error_ = nullptr;
    abandoned_ = std::make_shared<std::atomic<bool>>(false);
    thread_ = std::thread([this, work = std::move(work), cancel = std::move(cancel), abandoned = abandoned_] {
        runAbandoned = abandoned;
        std::exception_ptr error;
        {
            platform::ThreadPoll poll([this, &cancel] {
                if (cancelled_)
                    cancel();
            });
            try {
                work();
            } catch (...) {
                error = std::current_exception();
            }
        }
        QMetaObject::invokeMethod(this, [this, error] { Join(error); }, Qt::QueuedConnection);
    });
    ticker_.start();
}

void RunBridge::Cancel()
{
    if (running_)
        cancelled_ = true;
}

void RunBridge::Join(std::exception_ptr error)
{
    thread_.join();
    ticker_.stop();
    error_ = error;
    running_ = false;
    emit Tick();
    emit Finished();
}

}  // namespace ui
