// SIGINT and SIGTERM as stop requests that the main thread waits for: both are
// blocked in the whole process (construct this before any thread starts, so
// every thread inherits the mask) and read from a signalfd. SIGPIPE is ignored.
//
// Main thread only. One instance per process.
#pragma once

namespace hoerspur {

class StopSignale {
  public:
    StopSignale();
    ~StopSignale();
    StopSignale(const StopSignale&) = delete;
    StopSignale& operator=(const StopSignale&) = delete;

    // Waits up to `sekunden` for a stop request; true once one has arrived (at
    // once when one arrived earlier). 0 only asks.
    bool warte(double sekunden);

  private:
    int fd_ = -1;
    bool angefordert_ = false;
};

}  // namespace hoerspur
