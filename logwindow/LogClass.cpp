#include "logwindow/LogClass.h"

#include "logwindow/LogWindowWidget.h"

#include <QApplication>
#include <QPointer>
#include <QThread>

#include <deque>
#include <functional>
#include <mutex>

struct LogClass::Core
{
    // Set by the first queued operation, used only on the GUI thread.
    QPointer<LogWindowWidget> widget;

    std::mutex pathMutex;  // GetCurDir answers at once, from any thread
    std::u16string path;
};

namespace {

// One queue for every window keeps the operations in call order across
// windows and threads; only the GUI thread runs them.
class Dispatcher
{
public:
    static Dispatcher& instance()
    {
        // Never destroyed: a listener thread may still call in during process exit.
        static Dispatcher* dispatcher = new Dispatcher;
        return *dispatcher;
    }

    void submit(std::function<void()> op)
    {
        QCoreApplication* app = QCoreApplication::instance();
        if (!app)  // the application is gone (shutdown); nothing can show or save any more
            return;
        const bool onGuiThread = QThread::currentThread() == app->thread();
        bool post = false;
        {
            std::lock_guard<std::mutex> lock(mMutex);
            mQueue.push_back(std::move(op));
            if (!onGuiThread && !mDrainPosted)
                post = mDrainPosted = true;
        }
        if (post) {
            QMetaObject::invokeMethod(
                app,
                [this] {
                    {
                        std::lock_guard<std::mutex> lock(mMutex);
                        mDrainPosted = false;
                    }
                    drain();
                },
                Qt::QueuedConnection);
        }
        if (onGuiThread)
            drain();  // earlier calls from other threads run first
    }

private:
    void drain()
    {
        if (mDraining)  // an operation called back into a window; the outer loop goes on
            return;
        mDraining = true;
        for (;;) {
            std::function<void()> op;
            {
                std::lock_guard<std::mutex> lock(mMutex);
                if (mQueue.empty())
                    break;
                op = std::move(mQueue.front());
                mQueue.pop_front();
            }
            op();
        }
        mDraining = false;
    }

    std::mutex mMutex;
    std::deque<std::function<void()>> mQueue;
    bool mDrainPosted = false;
    bool mDraining = false;  // GUI thread only
};

bool haveGui()
{
    return qobject_cast<QApplication*>(QCoreApplication::instance()) != nullptr;
}

// Queues fn(widget) for the window of core; false when nothing can run.
template <typename Fn>
bool onWidget(const std::shared_ptr<LogClass::Core>& core, Fn fn)
{
    if (!core)
        return false;
    Dispatcher::instance().submit([core, fn = std::move(fn)] {
        if (core->widget)
            fn(*core->widget);
    });
    return true;
}

}  // namespace

LogClass::LogClass(const char16_t* text)
{
    if (!haveGui())
        return;
    d = std::make_shared<Core>();
    const QString title = text ? QString::fromUtf16(text) : QString();
    Dispatcher::instance().submit([core = d, title] { core->widget = new LogWindowWidget(title); });
}

LogClass::~LogClass()
{
    if (!d)
        return;
    Dispatcher::instance().submit([core = d] { delete core->widget.data(); });
}

bool LogClass::SetWindowTitle(const char16_t* title)
{
    if (!title)
        return false;
    return onWidget(d, [t = QString::fromUtf16(title)](LogWindowWidget& w) { w.setWindowTitle(t); });
}

bool LogClass::SetWindowPosFileName(const char16_t* name)
{
    if (!name)
        return false;
    return onWidget(d, [n = QString::fromUtf16(name)](LogWindowWidget& w) { w.setPositionName(n); });
}

bool LogClass::SetLogPath(const char16_t* path)
{
    if (!path || !d)
        return false;
    {
        std::lock_guard<std::mutex> lock(d->pathMutex);
        d->path = path;
    }
    return onWidget(d, [p = QString::fromUtf16(path)](LogWindowWidget& w) { w.setLogPath(p); });
}

const char16_t* LogClass::GetCurDir()
{
    // One buffer per thread: another thread's call cannot pull the text away
    // from under a caller that is still reading it.
    thread_local std::u16string answer;
    answer.clear();
    if (d) {
        std::lock_guard<std::mutex> lock(d->pathMutex);
        answer = d->path;
    }
    return answer.c_str();
}

bool LogClass::Save2File(bool save)
{
    return onWidget(d, [save](LogWindowWidget& w) { w.setSaving(save); });
}

bool LogClass::SetFontSize(int pointSize)
{
    if (pointSize <= 0)
        return false;
    return onWidget(d, [pointSize](LogWindowWidget& w) { w.setFontPointSize(pointSize); });
}

bool LogClass::SetEnabled(bool enabled)
{
    return onWidget(d, [enabled](LogWindowWidget& w) { w.setEnabled(enabled); });
}

bool LogClass::Show(bool show)
{
    return onWidget(d, [show](LogWindowWidget& w) { w.setVisible(show); });
}

bool LogClass::Append(const char16_t* line)
{
    if (!line)
        return false;
    return onWidget(d, [l = QString::fromUtf16(line)](LogWindowWidget& w) { w.appendLine(l); });
}

bool LogClass::ClearAll()
{
    return onWidget(d, [](LogWindowWidget& w) { w.clearLines(); });
}
