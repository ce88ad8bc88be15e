// One recording: builds the channel objects, starts both captures, routes their
// blocks through the optional echo path into the chunkers and the raw microphone
// file, and on stop drains every path in a fixed order and writes the final lines.
//
// Threads: the constructor, shutdown() and the end wait run on the main thread.
// The capture start and the stop sequence run on threads this object owns; blocks
// arrive on the capture threads and move on through the "chunks.them" and "echo"
// queues. The meeting-window video runs beside them on threads of its own
// (WindowVideoCapture) and never holds up the audio: the stop waits for it at most
// VIDEO_STOP_FRIST. The destructor waits for all of them.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <thread>

#include "platform/plattform.h"
#include "recorder/driver/config.h"

namespace hoerspur {

class ChannelChunker;
class EchoStrecke;
class MicCapture;
class RohWav;
class SerialQueue;
class SystemAudioCapture;
class WindowVideoCapture;
class Zeitachse;

// The most the stop sequence waits for the video to finish its file.
inline constexpr std::chrono::milliseconds VIDEO_STOP_FRIST{5000};

class Aufnahme {
  public:
    // Creates the output folder, fixes the zero point and builds every object of
    // the recording; starts nothing. `plattform` must outlive the recording.
    Aufnahme(const Config& konfiguration, Plattform plattform);
    ~Aufnahme();
    Aufnahme(const Aufnahme&) = delete;
    Aufnahme& operator=(const Aufnahme&) = delete;

    // Starts the capture start task (microphone, then system audio, then the
    // "started" line).
    void starte();

    // Begins the stop sequence; later calls do nothing. Stops the microphone
    // before it returns, the rest runs on the stop task.
    void shutdown();

    // The exit status once the recording has ended: 2 when both captures were
    // refused, 0 after "done". Nothing while it runs.
    std::optional<int> exitStatus() const;
    // Waits for the end and returns the exit status.
    int warteAufEnde();
    // Called once, on the ending thread, when the exit status is set.
    void beiEnde(std::function<void()> melder);

    double zeitNull() const { return zeitNull_; }
    // The channels' timelines; read them after the recording has ended.
    const Zeitachse& zeitThem() const { return *zeitThem_; }
    const Zeitachse& zeitMe() const { return *zeitMe_; }

  private:
    void startAufgabe();
    void stopAufgabe();
    void beende(int status);
    // Emits `zeile` unless the recording has already written its last line.
    void emitSolangeOffen(const std::string& zeile);

    void systemBlock(std::vector<float> block);
    void mikroBlock(std::vector<float> block);
    void echoAusgabe(std::span<const float> samples, std::span<const bool> sprache);

    // fest nach dem Bau
    const Config cfg_;
    const Plattform plattform_;
    double zeitNull_ = 0.0;
    std::int64_t nullUnixMs_ = 0;
    bool echoAn_ = false;
    std::unique_ptr<ChannelChunker> themChunker_;
    std::unique_ptr<ChannelChunker> meChunker_;
    std::unique_ptr<Zeitachse> zeitThem_;
    std::unique_ptr<Zeitachse> zeitMe_;
    std::unique_ptr<SerialQueue> themQueue_;
    std::unique_ptr<SerialQueue> echoQueue_;
    // nur auf der Echo-Queue, wenn es die Echo-Strecke gibt; sonst auf dem Mikrofon-Thread
    std::unique_ptr<EchoStrecke> strecke_;
    std::unique_ptr<RohWav> rohWav_;
    std::unique_ptr<SystemAudioCapture> sysCap_;
    std::shared_ptr<MicCapture> micCap_;
    std::unique_ptr<WindowVideoCapture> vidCap_;

    // The microphone is started and stopped under micMutex_, the system audio
    // under sysMutex_, so a stop never races a start that is still running.
    std::mutex micMutex_;
    std::mutex sysMutex_;
    std::atomic<bool> stopLaeuft_{false};

    // unter endeMutex_
    mutable std::mutex endeMutex_;
    std::condition_variable endeCv_;
    std::optional<int> exitStatus_;
    std::function<void()> melder_;
    bool letzteZeileGeschrieben_ = false;

    std::thread startThread_;
    std::thread stopThread_;
};

// Runs a recording as the process's main job: blocks SIGINT and SIGTERM, starts,
// waits for the first signal on this (main) thread, stops, and ends the process
// with the exit status once every file is closed and every line written.
[[noreturn]] void fuehreAufnahmeAus(const Config& konfiguration, Plattform plattform);

}  // namespace hoerspur
