#pragma once
// SIGTERM, SIGINT and SIGHUP for the window program, delivered through Qt's
// event loop: the handler only writes the signal's number to a pipe, and a
// socket notifier on the window's thread passes it on. A signal whose
// inherited action is "ignore" stays ignored.

#include <QObject>

#include <functional>

class QSocketNotifier;

class CTerminationSignals : public QObject {
public:
    // onSignal runs on the thread that creates this object, once per signal.
    explicit CTerminationSignals(std::function<void(int)> onSignal);
    ~CTerminationSignals() override;
    CTerminationSignals(const CTerminationSignals&) = delete;
    CTerminationSignals& operator=(const CTerminationSignals&) = delete;

private:
    void TakeSignals();

    std::function<void(int)> m_onSignal;
    QSocketNotifier* m_notifier = nullptr;
};
