// Turns SIGTERM, SIGINT and SIGHUP into an orderly ending run by the event loop: the signal
// handler only writes the signal's number into a pipe, and a socket notifier on the other end
// calls the ending function on the user-interface thread.
#pragma once

#include <QObject>

#include <functional>

class QSocketNotifier;

namespace morvel {

class SignalEnding : public QObject {
    Q_OBJECT
  public:
    // Installs the handlers; `end` receives the signal's number. One instance per process.
    explicit SignalEnding(std::function<void(int signal)> end, QObject* parent = nullptr);
    ~SignalEnding() override;

    // The signal that arrived, or 0 when none has.
    int Received() const { return received_; }

  private:
    void Read();

    std::function<void(int)> end_;
    QSocketNotifier* notifier_ = nullptr;
    int received_ = 0;
};

} // namespace morvel
