#include "ui/workerthread.h"

WorkerThread::WorkerThread(std::function<void()> task, QObject* parent) : QThread(parent), task(std::move(task)) {}

void WorkerThread::run() {
    if (task)
        task();
    emit taskCompleted();
}
