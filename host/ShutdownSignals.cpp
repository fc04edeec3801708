#include "host/ShutdownSignals.h"

#include <QSocketNotifier>

#include <cerrno>
#include <csignal>

#include <fcntl.h>
#include <unistd.h>

namespace {

int gSignalPipe[2] = {-1, -1};
constexpr int HandledSignals[] = {SIGINT, SIGTERM, SIGHUP};

void onSignal(int signalNumber)
{
    const int saved = errno;
    const unsigned char byte = static_cast<unsigned char>(signalNumber);
    [[maybe_unused]] ssize_t n = ::write(gSignalPipe[1], &byte, 1);
    errno = saved;
}

} // namespace

ShutdownSignals::ShutdownSignals(QObject* parent) : QObject(parent)
{
    if (::pipe2(gSignalPipe, O_CLOEXEC | O_NONBLOCK) != 0)
        return;
    mNotifier = new QSocketNotifier(gSignalPipe[0], QSocketNotifier::Read, this);
    connect(mNotifier, &QSocketNotifier::activated, this, &ShutdownSignals::onReadable);

    struct sigaction action = {};
    action.sa_handler = onSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (int signalNumber : HandledSignals)
        ::sigaction(signalNumber, &action, nullptr);
}

ShutdownSignals::~ShutdownSignals()
{
    for (int signalNumber : HandledSignals)
        ::signal(signalNumber, SIG_DFL);
    if (gSignalPipe[0] >= 0) {
        ::close(gSignalPipe[0]);
        ::close(gSignalPipe[1]);
        gSignalPipe[0] = gSignalPipe[1] = -1;
    }
}

void ShutdownSignals::onReadable()
{
    unsigned char byte = 0;
    while (::read(gSignalPipe[0], &byte, 1) == 1)
        emit requested(byte);
}
