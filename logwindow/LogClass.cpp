#include "logwindow/LogClass.h"

#include "logwindow/LogWindowWidget.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QPointer>
#include <QThread>

#include <deque>
#include <functional>
#include <mutex>
#include <utility>
#include <vector>

struct LogClass::Core {
    // Set by the first queued operation, used only on the GUI thread.
    QPointer<LogWindowWidget> widget;

    std::mutex pathMutex; // GetCurDir answers at once, from any thread
    std::u16string path;

    // Guarded by the dispatcher's lock: the values last asked for, so that a
    // caller repeating them with every line queues nothing, and the lines of
    // this window dropped since the last notice.
    int requestedFontSize = 0;
    int requestedSaving = -1;
    quint64 droppedLines = 0;
};

namespace {

using CorePtr = std::shared_ptr<LogClass::Core>;

// One queue for every window keeps the operations in call order across
// windows and threads; only the GUI thread runs them.
//
// A sender can produce lines far faster than a text view takes them, so the
// queue holds at most LogClass::kMaxPendingLines lines: each line beyond that
// pushes out the oldest queued one, and the window says how many it lost once
// the queue has run empty. Queued work runs in slices between the other
// events of the GUI thread, so a flood of lines cannot keep its event loop,
// timers and signal handling waiting.
class Dispatcher {
public:
    static Dispatcher& instance()
    {
        // Never destroyed: a listener thread may still call in during process exit.
        static Dispatcher* dispatcher = new Dispatcher;
        return *dispatcher;
    }

    // lineOf: the window whose line op is, when it is one (lines may be
    // dropped). setting, when given, is the window's remembered value of this
    // kind of call (guarded by the queue lock): an unchanged value queues nothing.
    void submit(std::function<void()> op, CorePtr lineOf = nullptr, int* setting = nullptr, int value = 0)
    {
        QCoreApplication* app = QCoreApplication::instance();
        if (!app) // the application is gone (shutdown); nothing can show or save any more
            return;
        const bool onGuiThread = QThread::currentThread() == app->thread();
        bool post = false;
        {
            std::lock_guard<std::mutex> lock(mMutex);
            const bool unchanged = setting && *setting == value;
            if (setting)
                *setting = value;
            if (!unchanged) {
                if (lineOf) {
                    if (mPendingLines >= size_t(LogClass::kMaxPendingLines))
                        dropOldestLine();
                    ++mPendingLines;
                }
                mQueue.push_back({std::move(op), std::move(lineOf)});
                if (!onGuiThread && !mDrainPosted)
                    post = mDrainPosted = true;
            }
        }
        if (post)
            postSlice(app);
        if (onGuiThread)
            drain(false); // earlier calls from other threads run first
    }

    size_t pending()
    {
        std::lock_guard<std::mutex> lock(mMutex);
        return mQueue.size();
    }

private:
    struct Op {
        std::function<void()> run;
        CorePtr lineOf; // set for a line, which may be dropped
    };

    // Up to this many operations, or this much time, per turn of the event loop.
    static constexpr int kSliceOps = 256;
    static constexpr qint64 kSliceMs = 10;

    void postSlice(QCoreApplication* app)
    {
        // The functor captures nothing: it is built on the posting thread and
        // run on the GUI thread, and the only hand-over between them is Qt's
        // event queue, which the thread sanitizer cannot see into.
        QMetaObject::invokeMethod(
            app,
            [] {
                Dispatcher& self = instance();
                {
                    std::lock_guard<std::mutex> lock(self.mMutex);
                    self.mDrainPosted = false;
                }
                self.drain(true);
            },
            Qt::QueuedConnection);
    }

    void dropOldestLine()
    {
        for (auto it = mQueue.begin(); it != mQueue.end(); ++it) {
            if (!it->lineOf)
                continue;
            if (it->lineOf->droppedLines++ == 0)
                mDropped.push_back(it->lineOf);
            mQueue.erase(it);
            --mPendingLines;
            return;
        }
    }

    // slice: stop after a slice's worth and queue the rest behind the events
    // already waiting; otherwise run until the queue is empty.
    void drain(bool slice)
    {
        if (mDraining) // an operation called back into a window; the outer loop goes on
            return;
        mDraining = true;
        QElapsedTimer clock;
        clock.start();
        std::vector<std::pair<CorePtr, quint64>> notices;
        bool postRest = false;
        for (int done = 0;; ++done) {
            Op op;
            {
                std::lock_guard<std::mutex> lock(mMutex);
                if (mQueue.empty()) {
                    for (CorePtr& core : mDropped) {
                        notices.emplace_back(core, core->droppedLines);
                        core->droppedLines = 0;
                    }
                    mDropped.clear();
                    break;
                }
                if (slice && (done >= kSliceOps || clock.hasExpired(kSliceMs))) {
                    postRest = !mDrainPosted;
                    mDrainPosted = true;
                    break;
                }
                op = std::move(mQueue.front());
                mQueue.pop_front();
                if (op.lineOf)
                    --mPendingLines;
            }
            op.run();
        }
        if (postRest)
            postSlice(QCoreApplication::instance());
        // The flood is over: each window that lost lines says so in its view
        // and file, after the last line it did get.
        for (const auto& [core, count] : notices) {
            if (core->widget)
                core->widget->appendLine(QStringLiteral("%1 log lines dropped").arg(count));
        }
        mDraining = false;
    }

    std::mutex mMutex;
    std::deque<Op> mQueue;
    size_t mPendingLines = 0;
    std::vector<CorePtr> mDropped; // windows with droppedLines above zero
    bool mDrainPosted = false;
    bool mDraining = false; // GUI thread only
};

bool haveGui() { return qobject_cast<QApplication*>(QCoreApplication::instance()) != nullptr; }

// Queues fn(widget) for the window of core; false when nothing can run.
// line marks a line of text; setting names the remembered value of a
// setting call (see Dispatcher::submit).
template <typename Fn>
bool onWidget(const CorePtr& core, Fn fn, bool line = false, int LogClass::Core::*setting = nullptr, int value = 0)
{
    if (!core)
        return false;
    Dispatcher::instance().submit(
        [core, fn = std::move(fn)] {
            if (core->widget)
                fn(*core->widget);
        },
        line ? core : nullptr, setting ? &(core.get()->*setting) : nullptr, value);
    return true;
}

} // namespace

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
    return onWidget(
        d, [save](LogWindowWidget& w) { w.setSaving(save); }, false, &Core::requestedSaving, save ? 1 : 0);
}

bool LogClass::SetFontSize(int pointSize)
{
    if (pointSize <= 0)
        return false;
    return onWidget(
        d, [pointSize](LogWindowWidget& w) { w.setFontPointSize(pointSize); }, false, &Core::requestedFontSize,
        pointSize);
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
    return onWidget(
        d, [l = QString::fromUtf16(line)](LogWindowWidget& w) { w.appendLine(l); }, true);
}

size_t LogClass::pendingOperations() { return Dispatcher::instance().pending(); }

bool LogClass::ClearAll()
{
    return onWidget(d, [](LogWindowWidget& w) { w.clearLines(); });
}
