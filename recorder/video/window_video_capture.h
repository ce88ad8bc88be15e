// Films the meeting window into one "video.mp4" while a recording runs, and
// keeps the picture on the meeting: a supervision thread looks for the meeting
// window (every 3 s until one is shown, every 2 s after that), starts, switches
// and pauses one window stream, and books the filmed time per source. Whatever
// is filmed goes into one file and one track; the audio is never touched here.
//
// Ownership: one object per recording, owned by the driver; it owns the
// supervision thread, the window stream and the video writer. The destructor
// ends the supervision (finishing the file as stop() would) and waits for it.
//
// Threads: starteGeduldig() and stop() may be called from any thread. The
// supervision runs on the object's own thread ("video.aufsicht") and calls the
// Melder there. Frames and the stream's stop report arrive on the stream's
// thread ("sck.video"): a frame takes a mutex that is only ever held briefly,
// and never waits for the encoder (the writer takes the picture or refuses it).
//
// Times: host clock seconds (Plattform::hostSekunden); the `t` of a report is
// the seconds since the recording's zero time.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>

#include "platform/bgra_bild.h"
#include "platform/plattform.h"
#include "recorder/video/video_meldung.h"
#include "recorder/video/wahl.h"

namespace hoerspur {

class WindowVideoCapture {
  public:
    static constexpr std::int32_t breite = 1280;
    static constexpr std::int32_t hoehe = 800;
    // Checks while no picture has been shown yet, and while filming.
    static constexpr double suchAbstandSekunden = 3.0;
    static constexpr double pruefAbstandSekunden = 2.0;
    // Lines of one kind of recurring failure written at most.
    static constexpr int maxFehlerZeilen = 20;

    // Called on the supervision thread for every report; must not block for long.
    using Melder = std::function<void(const VideoMeldung&)>;
    // Sleeps about `sekunden` on the host clock and returns early once
    // `abgebrochen()` is true. Tests on a simulated clock move the clock here.
    using Schlaefer =
        std::function<void(double sekunden, const std::function<bool()>& abgebrochen)>;

    // Creates nothing on disk. `ausgabeOrdner` is the recording's folder, the
    // file is "video.mp4" in it; `zeitNull` is the recording's zero time.
    // Without a Schlaefer the supervision sleeps on the real clock.
    WindowVideoCapture(const std::string& ausgabeOrdner, double zeitNull,
                       const Plattform& plattform, Melder melder, Schlaefer schlaefer = {});
    ~WindowVideoCapture();
    WindowVideoCapture(const WindowVideoCapture&) = delete;
    WindowVideoCapture& operator=(const WindowVideoCapture&) = delete;

    // How every window stream films.
    static FensterStromKonfiguration konfiguration();
    // How the one video input is encoded.
    static H264Einstellungen videoEinstellungen();

    // Starts the supervision with this waiting time before "no picture" is
    // reported; returns at once. Only the first call counts, and none after stop().
    void starteGeduldig(double sekunden);

    // Ends the supervision: stops the stream, finishes the file and reports what
    // was filmed. Nothing when no picture was ever shown or no complete file was
    // written. Waits at most `frist` for the supervision (a check or the encoder
    // hanging on the platform); after that it logs and returns nothing, and the
    // supervision ends on its own. Only the first call does anything.
    std::optional<VideoErgebnis> stop(
        std::chrono::milliseconds frist = std::chrono::milliseconds(5000));

    // Filming has started (a first target was shown) and not yet been stopped.
    bool laeuft() const { return laeuft_.load(); }
    // The source being filmed; empty before the first.
    std::string quelle() const;

    const std::string& ziel() const { return ziel_; }

  private:
    // On the supervision thread (window_video_capture_aufsicht.cpp).
    void aufsicht(double warteSekunden);
    void pruefen();
    void umschalten(const Wahl& w, const TeilbarerInhalt& inhalt);
    void pausieren(const std::string& grund);
    void buchen();
    std::optional<VideoErgebnis> abschliessen();
    void writerAnlegen();
    void schlafe(double sekunden);
    double jetzt() const { return hostSekunden_(); }
    void melde(VideoMeldung::Art art, const Wahl& ziel, std::string text, double t);

    // Under zustand_.
    bool abgebrochen() const;
    bool streamWeg() const;
    void setzeStreamWeg(bool weg);

    // On the stream's thread.
    void beiBild(const FensterBild& bild);
    void beiStreamStop(const std::string& fehlerText);

    // fest nach dem Bau
    const std::string ziel_;
    const double null_;
    const std::shared_ptr<BildschirmAufnahme> bildschirm_;
    const std::shared_ptr<FensterAufnahme> fensterAufnahme_;
    const std::function<std::unique_ptr<VideoSchreiber>(const std::string&)> neuerSchreiber_;
    const std::function<double()> hostSekunden_;
    const Melder melder_;
    const Schlaefer schlaefer_;

    // unter bildMutex_: the writer and what the frames did with it
    std::mutex bildMutex_;
    std::unique_ptr<VideoSchreiber> writer_;
    std::optional<double> basis_;
    std::int64_t frames_ = 0;
    // A new picture the busy writer refused: the stream sends only "unchanged"
    // after it, so it goes in at the next tick instead of being lost.
    BgraPuffer nachzureichen_;
    std::atomic<bool> hatNachzureichen_{false};

    // unter zustand_
    mutable std::mutex zustand_;
    std::condition_variable wecker_;  // wakes the sleeping supervision and stop()
    bool abgebrochen_ = false;
    bool streamWeg_ = false;
    bool abgeschlossen_ = false;  // the supervision has run its last step
    std::optional<VideoErgebnis> ergebnis_;
    std::string quelle_;
    std::thread aufsicht_;  // started once, joined by the destructor

    // nur auf dem Aufsichtsthread (or before it starts)
    std::unique_ptr<FensterStrom> stream_;
    std::optional<Wahl> aktuell_;
    std::optional<Wahl> kandidat_;
    std::map<std::string, double> zeiten_;
    double aktuellSeit_ = 0.0;
    double pauseSeit_ = 0.0;
    std::int64_t wechsel_ = 0;
    bool schreiberAngelegt_ = false;
    bool pauseGemeldet_ = false;
    std::string letzteWahl_;
    int startFehlerZeilen_ = 0;
    int pruefFehlerZeilen_ = 0;

    // any thread
    std::atomic<bool> laeuft_{false};
    std::atomic<int> streamStopZeilen_{0};
};

}  // namespace hoerspur
