// One recording: builds the channel objects, starts both captures, routes their
// blocks through the optional echo path into the chunkers and the raw microphone
// file, and on stop drains every path in a fixed order and writes the final lines.
//
// Threads: the constructor, shutdown() and the end wait run on the main thread.
// The capture start and the stop sequence run on threads this object owns; blocks
// arrive on the capture threads and move on through the "chunks.them" and "echo"
// queues at once, so no file is ever written on a capture's delivery thread. The
// stop never waits for a capture start: each capture stops what a start still
// running brings up. The meeting-window video runs beside them on threads of its
// own (WindowVideoCapture) and never holds up the audio: the stop waits for it at
// most VIDEO_STOP_FRIST. The destructor waits for all threads, a hanging start
// included (fuehreAufnahmeAus() ends the process without it).
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
#include "platform/plattform_fehler.h"
#include "recorder/driver/ausgabe_ordner.h"
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
    // Makes the output folder ready and locks it (see AusgabeOrdner), fixes the zero
    // point and builds every object of the recording; starts nothing. A folder that
    // cannot take the recording is reported by starte(). `plattform` must outlive
    // the recording.
    Aufnahme(const Config& konfiguration, Plattform plattform);
    ~Aufnahme();
    Aufnahme(const Aufnahme&) = delete;
    Aufnahme& operator=(const Aufnahme&) = delete;

    // Starts the capture start task (microphone, then system audio, then the
    // "started" line). With an unusable output folder it emits the "error" line
    // instead and ends the recording with status 2; nothing is captured.
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
    // nur auf der Echo-Queue (the raw file too)
    std::unique_ptr<EchoStrecke> strecke_;
    std::unique_ptr<RohWav> rohWav_;
    std::unique_ptr<SystemAudioCapture> sysCap_;
    std::shared_ptr<MicCapture> micCap_;
    std::unique_ptr<WindowVideoCapture> vidCap_;

    // The lock of the output folder, held for the whole recording, or why not.
    std::optional<AusgabeOrdner> ordner_;
    std::optional<PlattformFehler> ordnerFehler_;

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

// The first thing main does: blocks SIGINT and SIGTERM for this thread and every
// thread started later, so that a stop signal is taken up by the recording and ends
// it with "done"; ignores SIGPIPE and SIGXFSZ, so a reader that went away or a file
// size limit shows as a failed write, never as the end of the program.
void sperreStopSignale();
// Unblocks SIGINT and SIGTERM again, for the side modes, which end on them the
// ordinary way.
void gibStopSignaleFrei();

// The most a stop waits for lines that the host does not read.
inline constexpr std::chrono::seconds STOP_FRIST{5};

// Runs a recording as the process's main job: writes its lines from writer threads
// that the host's reading cannot hold up, starts, waits for the first stop signal
// on this (main) thread, stops, and ends the process with the exit status once
// every file is closed and every line written (or STOP_FRIST after the signal when
// the host does not read them).
[[noreturn]] void fuehreAufnahmeAus(const Config& konfiguration, Plattform plattform);

}  // namespace hoerspur
