#pragma once

// Wakes the thread that owns this object from any thread, without allocating: an eventfd watched
// by a QSocketNotifier. Wake-ups coalesce: many wake() calls before the owner runs give one woken().
//
// Threads: construct, destroy and receive woken() in the owner thread; wake() from any thread.
#include <QObject>

class QSocketNotifier;

class NrWakeup : public QObject {
    Q_OBJECT
public:
    explicit NrWakeup(QObject* parent = nullptr);
    ~NrWakeup() override;

    void wake();

signals:
    void woken();

private:
    void onActivated();

    int fd = -1;
    QSocketNotifier* notifier = nullptr;
};
