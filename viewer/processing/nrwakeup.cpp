#include "processing/nrwakeup.h"

#include <QDebug>
#include <QSocketNotifier>

#include <sys/eventfd.h>
#include <unistd.h>

#include <cstdint>

NrWakeup::NrWakeup(QObject* parent) : QObject(parent) {
    fd = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    if (fd < 0) {
        qWarning() << "eventfd failed; frames will not reach the display";
        return;
    }
    notifier = new QSocketNotifier(fd, QSocketNotifier::Read, this);
    connect(notifier, &QSocketNotifier::activated, this, &NrWakeup::onActivated);
}

NrWakeup::~NrWakeup() {
    delete notifier;
    if (fd >= 0)
        ::close(fd);
}

void NrWakeup::wake() {
    if (fd < 0)
        return;
    const uint64_t one = 1;
    // Fails only when the counter is near overflow, and then a wake-up is pending anyway.
    [[maybe_unused]] const ssize_t n = ::write(fd, &one, sizeof one);
}

void NrWakeup::onActivated() {
    uint64_t count = 0;
    [[maybe_unused]] const ssize_t n = ::read(fd, &count, sizeof count);
    emit woken();
}
