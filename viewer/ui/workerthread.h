#pragma once

// A QThread that runs one task and then emits taskCompleted() (from the new thread; receivers in
// other threads get it queued). The task runs on the new thread; the object lives in its creator's.
// Kept for opening cameras, which the main window will do on one behind its waiting window.
#include <QThread>

#include <functional>

class WorkerThread : public QThread {
    Q_OBJECT
public:
    explicit WorkerThread(std::function<void()> task, QObject* parent = nullptr);

signals:
    void taskCompleted();

protected:
    void run() override;

private:
    std::function<void()> task;
};
