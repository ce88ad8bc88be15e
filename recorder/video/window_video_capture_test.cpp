// The video recorder and its supervision on the simulated platform: meetings as
// users have them, told as stories over a scripted window timeline. The
// supervision sleeps through a test sleeper that moves the simulated clock and
// waits until the window stream has delivered every picture due, so ten minutes
// of meeting run in a moment and every check sees a settled world.
#include "recorder/video/window_video_capture.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <filesystem>
#include <fstream>
#include <limits>
#include <mutex>
#include <set>
#include <string>
#include <vector>

#include "platform/sim/sim_plattform.h"
#include "tests/zeilen_mitschnitt.h"

namespace hoerspur {
namespace {

using namespace std::chrono_literals;

constexpr double START = 1000.0;  // the simulated host clock at the start
constexpr double NIE = std::numeric_limits<double>::infinity();
constexpr const char* ZOOM = "us.zoom.xos";
const std::string KEIN = std::string(KEIN_BILD);
const std::string ZOOM_OHNE_MEETING = KEIN + " (Zoom offen, aber kein Meeting sichtbar)";
const std::string STRICH = " \xE2\x80\x94 ";

// One window on screen from `ab` until `bis` (seconds after the start).
struct Auftritt {
    std::uint32_t id;
    std::string titel;
    double ab = 0.0;
    double bis = NIE;
    double breite = 1280;
    double hoehe = 800;
    std::string bundle = ZOOM;
};

// A report as the test saw it, with the clock when it came.
struct Gemeldet {
    VideoMeldung m;
    double uhrSekunden;  // seconds after the start
};

class VideoAufsicht : public ::testing::Test {
  protected:
    void SetUp() override {
        char vorlage[] = "/tmp/hoerspur-video-XXXXXX";
        ordner_ = mkdtemp(vorlage);
    }
    void TearDown() override {
        capture_.reset();
        std::filesystem::remove_all(ordner_);
    }

    // The desktop over time: the catalogue lists the windows present at each
    // moment (in the order given, front-most first), the window stream finds
    // them there too.
    void desktop(std::vector<Auftritt> auftritte) {
        std::set<double> wechsel{0.0};
        for (const Auftritt& a : auftritte) {
            wechsel.insert(a.ab);
            if (a.bis != NIE) wechsel.insert(a.bis);
        }
        SimFensterplan plan;
        for (double ab : wechsel) {
            SimFensterSchritt schritt;
            schritt.abSekunden = ab;
            for (const Auftritt& a : auftritte) {
                if (a.ab <= ab && ab < a.bis) {
                    TeilbaresFenster f;
                    f.id = a.id;
                    f.titel = a.titel;
                    f.app = FensterApp{a.bundle, "zoom.us", 4711};
                    f.rahmen = FensterRahmen{0, 0, a.breite, a.hoehe};
                    f.aufBildschirm = true;
                    schritt.fenster.push_back(f);
                }
            }
            plan.push_back(schritt);
        }
        szenario_.systemAudio.fenster = plan;
        szenario_.fensterVideo.fensterDa = [auftritte](std::uint32_t id, double sekunden) {
            return std::any_of(auftritte.begin(), auftritte.end(), [&](const Auftritt& a) {
                return a.id == id && a.ab <= sekunden - START && sekunden - START < a.bis;
            });
        };
    }

    // Builds the recorder (zero time `nullSekunden` after the start) and starts
    // the supervision with this waiting time.
    void starte(double warteSekunden = 120.0, double nullSekunden = 0.0) {
        szenario_.uhrStartSekunden = START;
        {
            std::lock_guard l(mutex_);
            grenze_ = 0.0;
            amZiel_ = false;
            meldungen_.clear();
        }
        umgebung_ = baueSimPlattform(szenario_);
        capture_ = std::make_unique<WindowVideoCapture>(
            ordner_, START + nullSekunden, umgebung_.plattform,
            [this](const VideoMeldung& m) {
                std::lock_guard l(mutex_);
                meldungen_.push_back({m, umgebung_.uhr->jetzt() - START});
            },
            [this](double s, const std::function<bool()>& abgebrochen) {
                schlafe(s, abgebrochen);
            });
        capture_->starteGeduldig(warteSekunden);
    }

    // Lets the supervision run until its next sleep would pass `sekunden`.
    void laufeBis(double sekunden) {
        std::unique_lock l(mutex_);
        grenze_ = sekunden;
        amZiel_ = false;
        weiter_.notify_all();
        ASSERT_TRUE(weiter_.wait_for(l, 30s, [&] { return amZiel_; })) << "bis " << sekunden;
    }

    std::optional<VideoErgebnis> stoppe() { return capture_->stop(10s); }

    std::vector<Gemeldet> meldungen() {
        std::lock_guard l(mutex_);
        return meldungen_;
    }
    std::vector<Gemeldet> meldungen(VideoMeldung::Art art) {
        std::vector<Gemeldet> treffer;
        for (const Gemeldet& g : meldungen()) {
            if (g.m.art == art) treffer.push_back(g);
        }
        return treffer;
    }
    // Log lines that begin with `anfang`.
    std::vector<std::string> logZeilen(const std::string& anfang) const {
        std::vector<std::string> treffer;
        for (const std::string& z : mit_.logZeilen()) {
            if (z.rfind(anfang, 0) == 0) treffer.push_back(z);
        }
        return treffer;
    }
    int pruefungen() const { return umgebung_.systemAudio->stand().fensterAbfragen; }

    void legeAltesVideoAn() { std::ofstream(ziel()) << "altes Video"; }
    std::string ziel() const { return ordner_ + "/video.mp4"; }
    std::string inhalt() const {
        std::ifstream f(ziel());
        return std::string(std::istreambuf_iterator<char>(f), {});
    }

    std::string ordner_;
    SimSzenario szenario_;
    SimUmgebung umgebung_;
    ZeilenMitschnitt mit_;
    std::unique_ptr<WindowVideoCapture> capture_;

  private:
    // The supervision's sleeper: waits while the sleep would pass the limit set
    // by laufeBis (or until stopped), then moves the clock and waits until the
    // running stream has delivered every picture due by then, or ended.
    void schlafe(double s, const std::function<bool()>& abgebrochen) {
        warteBisStromRuht();  // a stream started by the last check has its first picture
        {
            std::unique_lock l(mutex_);
            while (umgebung_.uhr->jetzt() - START + s > grenze_ + 1e-9) {
                if (abgebrochen()) return;
                amZiel_ = true;
                weiter_.notify_all();
                weiter_.wait_for(l, 1ms);
            }
            amZiel_ = false;
        }
        umgebung_.uhr->vorruecken(s);
        warteBisStromRuht();
    }

    // Streams start at whole seconds, so a picture is due right now: once it is
    // delivered (or the stream has ended at it), the stream waits for the clock.
    void warteBisStromRuht() {
        const double jetzt = umgebung_.uhr->jetzt();
        EXPECT_TRUE(umgebung_.fensterVideo->warte(
            [&](const SimFensterVideoAufrufe& a) {
                return a.laufend == 0 ||
                       (a.letzteBildSekunden && *a.letzteBildSekunden >= jetzt - 1e-9);
            },
            10s));
    }

    std::mutex mutex_;
    std::condition_variable weiter_;
    double grenze_ = 0.0;
    bool amZiel_ = false;
    std::vector<Gemeldet> meldungen_;
};

TEST_F(VideoAufsicht, NoMeetingInTenMinutesSaysSoOnceKeepsLookingAndLeavesTheOldFile) {
    desktop({{1, "Zoom"}, {2, "Zoom Workplace", 0, NIE, 900, 600}});
    legeAltesVideoAn();
    starte(120.0);
    laufeBis(600);

    // Checks every 3 s from the first moment on: 0, 3, ..., 600.
    EXPECT_EQ(pruefungen(), 201);
    const auto keinBild = meldungen(VideoMeldung::Art::keinBild);
    ASSERT_EQ(keinBild.size(), 1u);
    EXPECT_EQ(keinBild[0].m.text, ZOOM_OHNE_MEETING);
    EXPECT_DOUBLE_EQ(keinBild[0].uhrSekunden, 123.0);  // the first check past the waiting time
    EXPECT_EQ(meldungen().size(), 1u);
    EXPECT_EQ(logZeilen("[hoerspur] Bild: "),
              std::vector<std::string>{"[hoerspur] Bild: " + ZOOM_OHNE_MEETING + STRICH +
                                       "suche weiter, Ton laeuft"});
    EXPECT_FALSE(capture_->laeuft());

    EXPECT_FALSE(stoppe());
    EXPECT_EQ(inhalt(), "altes Video");
    EXPECT_TRUE(umgebung_.videoSchreiber->stand().pfade.empty());
    EXPECT_EQ(umgebung_.fensterVideo->stand().starts, 0);
    EXPECT_TRUE(logZeilen("[hoerspur] Bildquelle").empty());
}

TEST_F(VideoAufsicht, MeetingOpeningLateIsFilmedIntoOneFileThatReplacesTheOldOne) {
    desktop({{1, "Zoom"}, {7, "Zoom Meeting", 130}});
    legeAltesVideoAn();
    starte(120.0, -2.5);  // the recording's zero lies 2.5 s before the supervision starts
    laufeBis(600);

    ASSERT_EQ(meldungen(VideoMeldung::Art::keinBild).size(), 1u);
    const auto start = meldungen(VideoMeldung::Art::start);
    ASSERT_EQ(start.size(), 1u);
    // Found at the first check after it opened (checks every 3 s until then).
    EXPECT_DOUBLE_EQ(start[0].uhrSekunden, 132.0);
    EXPECT_DOUBLE_EQ(start[0].m.tSekunden, 134.5);
    EXPECT_EQ(start[0].m.ziel,
              (Wahl{"fenster", 7, "Zoom \u00b7 Zoom Meeting", 1, "Zoom-Meetingfenster"}));
    EXPECT_EQ(meldungen().size(), 2u);
    EXPECT_TRUE(capture_->laeuft());
    EXPECT_EQ(capture_->quelle(), "Zoom \u00b7 Zoom Meeting");
    // Every 2 s once filming: 45 checks up to 132, then 234 more.
    EXPECT_EQ(pruefungen(), 45 + 234);
    EXPECT_EQ(logZeilen("[hoerspur] Bild: Zoom")[0],
              "[hoerspur] Bild: Zoom \u00b7 Zoom Meeting (Zoom-Meetingfenster) ab 134.5 s");

    const auto ergebnis = stoppe();
    ASSERT_TRUE(ergebnis);
    const auto schreiber = umgebung_.videoSchreiber->stand();
    EXPECT_EQ(ergebnis->pfad, ziel());
    EXPECT_EQ(ergebnis->quelle, "Zoom \u00b7 Zoom Meeting");
    EXPECT_EQ(ergebnis->frames, static_cast<std::int64_t>(schreiber.angehaengt));
    EXPECT_EQ(schreiber.angehaengt, 468u * 15u + 1);  // 15 a second from 132 s to 600 s
    EXPECT_EQ(schreiber.status, SchreiberStatus::fertig);
    // The file's time line runs from the first picture to the stop.
    EXPECT_DOUBLE_EQ(*schreiber.sitzungStart, START + 132.0);
    EXPECT_DOUBLE_EQ(*schreiber.sitzungEnde, START + 600.0);
    EXPECT_EQ(schreiber.pfade, std::vector<std::string>{ziel()});
    EXPECT_EQ(inhalt(), "");  // the simulated writer's file replaced the old one
    EXPECT_EQ(logZeilen("[hoerspur] Bildquelle"),
              std::vector<std::string>{"[hoerspur] Bildquelle: Zoom \u00b7 Zoom Meeting" + STRICH +
                                       "468 s"});
    EXPECT_FALSE(capture_->laeuft());
    EXPECT_EQ(umgebung_.fensterVideo->stand().laufend, 0);
}

TEST_F(VideoAufsicht, FollowsTheMeetingAcrossWindowsPausesAndResumesAndBooksTheTime) {
    desktop({
        {1, "Zoom"},
        {7, "Zoom Meeting", 0, 50},
        {7, "Zoom Meeting \u2013 Breakout", 70, 75},
        {8, "Zoom Meeting", 9, 11, 1600, 1000},  // bigger, but gone before the second check
        {9, "Grosses Meeting", 20, 40, 1600, 1000},
        {7, "Zoom Meeting", 60, 70},
    });
    legeAltesVideoAn();
    starte();
    laufeBis(85);

    struct Erwartet {
        VideoMeldung::Art art;
        double t;
        std::uint32_t id;
        std::string text;
    };
    const std::vector<Erwartet> erwartet = {
        {VideoMeldung::Art::start, 0, 7, ""},
        // Window 9 won the checks at 20 and 22: the picture moves at the second.
        {VideoMeldung::Art::wechsel, 22, 9, ""},
        // Window 9 closes while 7 is still there: at once back to 7.
        {VideoMeldung::Art::wechsel, 40, 7, ""},
        // 7 closes with nothing to follow: pause with the reason, resume when it returns.
        {VideoMeldung::Art::pause, 50, 0, ZOOM_OHNE_MEETING},
        {VideoMeldung::Art::wechsel, 60, 7, ""},
        // The title change at 70 says nothing; the close at 75 pauses again.
        {VideoMeldung::Art::pause, 76, 0, ZOOM_OHNE_MEETING},
    };
    const auto alle = meldungen();
    ASSERT_EQ(alle.size(), erwartet.size());
    for (size_t i = 0; i < alle.size(); ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(alle[i].m.art, erwartet[i].art);
        EXPECT_DOUBLE_EQ(alle[i].m.tSekunden, erwartet[i].t);
        EXPECT_EQ(alle[i].m.ziel.id, erwartet[i].id);
        EXPECT_EQ(alle[i].m.text, erwartet[i].text);
    }
    EXPECT_EQ(
        logZeilen("[hoerspur] Bild: " + ZOOM_OHNE_MEETING)[0],
        "[hoerspur] Bild: " + ZOOM_OHNE_MEETING + " ab 50.0 s" + STRICH + "Ton laeuft weiter");
    // The switch to 9 changed the running stream's window; the lost windows
    // and the pause needed new streams.
    const auto strom = umgebung_.fensterVideo->stand();
    EXPECT_EQ(strom.wechsel, std::vector<std::uint32_t>{9});
    EXPECT_EQ(strom.fenster, (std::vector<std::uint32_t>{7, 7, 7}));

    const auto ergebnis = stoppe();
    ASSERT_TRUE(ergebnis);
    // Filmed: 7 for 0-22, 40-50 and 60-70, 9 for 22-40, 7 under its new title
    // for 70-76. The pauses count for no one, also the one running at the stop.
    EXPECT_EQ(
        logZeilen("[hoerspur] Bildquelle"),
        (std::vector<std::string>{
            "[hoerspur] Bildquelle: Zoom \u00b7 Zoom Meeting" + STRICH + "42 s",
            "[hoerspur] Bildquelle: Zoom \u00b7 Grosses Meeting" + STRICH + "18 s",
            "[hoerspur] Bildquelle: Zoom \u00b7 Zoom Meeting \u2013 Breakout" + STRICH + "6 s"}));
    EXPECT_EQ(ergebnis->quelle, "Zoom \u00b7 Zoom Meeting (+2 weitere)");
    const auto schreiber = umgebung_.videoSchreiber->stand();
    EXPECT_EQ(schreiber.pfade.size(), 1u);
    EXPECT_EQ(ergebnis->frames, static_cast<std::int64_t>(schreiber.angehaengt));
    // 15 pictures a second while a filmed window was there: 0-40, 40-50 and 60-75 s.
    EXPECT_EQ(ergebnis->frames, (40 + 10 + 15) * 15);
    // The file ends where the last pause began, not at the stop.
    EXPECT_DOUBLE_EQ(*schreiber.sitzungEnde, START + 76.0);
    EXPECT_EQ(inhalt(), "");
}

TEST_F(VideoAufsicht, StreamEndedByThePlatformIsRebuiltAtTheNextCheck) {
    desktop({{7, "Zoom Meeting"}});
    szenario_.fensterVideo.stopptSelbstNachSekunden = 5.0;
    // Every second picture is unchanged: never written.
    szenario_.fensterVideo.statusVon = [](std::uint64_t k) {
        return k % 2 == 0 ? BildStatus::vollstaendig : BildStatus::unveraendert;
    };
    starte();
    laufeBis(12);

    const auto alle = meldungen();
    ASSERT_EQ(alle.size(), 3u);
    EXPECT_EQ(alle[0].m.art, VideoMeldung::Art::start);
    for (int i : {1, 2}) {
        EXPECT_EQ(alle[i].m.art, VideoMeldung::Art::wechsel);
        EXPECT_EQ(alle[i].m.ziel, alle[0].m.ziel);
    }
    EXPECT_DOUBLE_EQ(alle[1].uhrSekunden, 6.0);
    EXPECT_DOUBLE_EQ(alle[2].uhrSekunden, 12.0);
    EXPECT_EQ(logZeilen("[hoerspur] Video-SCStream gestoppt: ").size(), 2u);
    EXPECT_EQ(logZeilen("[hoerspur] Video-SCStream gestoppt: ")[0],
              "[hoerspur] Video-SCStream gestoppt: Error Domain=sim Code=-3821 \"Stream vom "
              "System beendet\"");
    EXPECT_EQ(umgebung_.fensterVideo->stand().starts, 3);

    const auto ergebnis = stoppe();
    ASSERT_TRUE(ergebnis);
    // One file across the three streams: 0-5, 6-11 and the first picture at 12 s,
    // complete pictures only.
    const auto schreiber = umgebung_.videoSchreiber->stand();
    EXPECT_EQ(schreiber.pfade.size(), 1u);
    EXPECT_EQ(schreiber.starts, 1);
    EXPECT_EQ(ergebnis->frames, static_cast<std::int64_t>(schreiber.angehaengt));
    EXPECT_EQ(ergebnis->frames, 38 + 38 + 1);

    // A stream that ends while it is still being started is noticed all the
    // same: rebuilt at every check, and never a picture, so nothing to announce.
    capture_.reset();
    szenario_ = {};
    desktop({{7, "Zoom Meeting"}});
    szenario_.fensterVideo.stopptSelbstNachSekunden = 0.0;
    starte();
    laufeBis(10);
    EXPECT_EQ(meldungen(VideoMeldung::Art::start).size(), 1u);
    EXPECT_EQ(meldungen(VideoMeldung::Art::wechsel).size(), 5u);  // at 2, 4, 6, 8, 10
    EXPECT_FALSE(stoppe());
}

// The writer's failures, each in a short meeting: what the host hears, what the
// log says, and what is left on disk.
TEST_F(VideoAufsicht, WriterFailuresNeverAnnounceAVideo) {
    enum class Datei { alt, neu, keine };
    struct Fall {
        const char* name;
        SimVideoSchreiberSkript skript;
        std::string logAnfang;  // the one line the failure leaves, if any
        bool gefilmt;           // "video_start" was reported
        Datei datei;            // what is at video.mp4 afterwards
    };
    SimVideoSchreiberSkript startFehler, abschlussFehler, mitten, leer, eingang, anlegen;
    startFehler.startFehler = "Platte voll";
    abschlussFehler.abschlussFehler = "Schreibfehler";
    mitten.fehlerNachBildern = {{30, "Platte voll"}};
    for (std::uint64_t i = 0; i < 10000; ++i) leer.beschaeftigtBeiAbfrage.insert(i);
    eingang.eingangAbgelehnt = true;
    anlegen.anlegenFehler = PlattformFehler("sim", -11800, "Ordner nicht beschreibbar");
    const std::vector<Fall> faelle = {
        {"start", startFehler, "[hoerspur] Video-Schreiber startete nicht: Platte voll", true,
         Datei::keine},
        {"abschluss", abschlussFehler, "[hoerspur] Video-Abschluss fehlgeschlagen: Schreibfehler",
         true, Datei::neu},
        // Writing broke off while filming: said so at the stop, what was written stays.
        {"mitten", mitten, "[hoerspur] Video-Abschluss fehlgeschlagen: Platte voll", true,
         Datei::neu},
        // Started on the first picture, then busy for every one: no empty file is left.
        {"leer", leer, "", true, Datei::keine},
        {"eingang", eingang,
         "[hoerspur] Video-Start fehlgeschlagen: Error Domain=hoerspur Code=3 \"AVAssetWriter "
         "nimmt den Video-Eingang nicht an\"",
         false, Datei::alt},
        {"anlegen", anlegen,
         "[hoerspur] Video-Start fehlgeschlagen: Error Domain=sim Code=-11800 \"Ordner nicht "
         "beschreibbar\"",
         false, Datei::alt},
    };
    for (const Fall& fall : faelle) {
        SCOPED_TRACE(fall.name);
        ZeilenMitschnitt mit;
        szenario_ = {};
        desktop({{7, "Zoom Meeting"}});
        // Streams end every 20 s: a rebuilt stream does not try the writer again.
        szenario_.fensterVideo.stopptSelbstNachSekunden = 20.0;
        szenario_.videoSchreiber = fall.skript;
        legeAltesVideoAn();
        starte(10.0);
        laufeBis(60);
        EXPECT_EQ(meldungen(VideoMeldung::Art::start).size(), fall.gefilmt ? 1u : 0u);
        const auto ergebnis = stoppe();
        EXPECT_FALSE(ergebnis);
        std::vector<std::string> zeilen;
        for (const std::string& z : mit.logZeilen()) {
            if (!fall.logAnfang.empty() && z.rfind(fall.logAnfang, 0) == 0) zeilen.push_back(z);
        }
        if (fall.gefilmt) {
            EXPECT_EQ(zeilen.size(), fall.logAnfang.empty() ? 0u : 1u);  // logged once
            EXPECT_EQ(umgebung_.videoSchreiber->stand().starts, 1);
        } else {
            // Retried at every check; the host hears why there is no picture.
            EXPECT_EQ(zeilen.size(), 20u);  // checks at 0, 3, ..., 60; the log stops at 20
            const auto keinBild = meldungen(VideoMeldung::Art::keinBild);
            ASSERT_EQ(keinBild.size(), 1u);
            EXPECT_EQ(keinBild[0].m.text.rfind(KEIN + " (", 0), 0u);
        }
        switch (fall.datei) {
            case Datei::alt:
                EXPECT_EQ(inhalt(), "altes Video");  // nothing was ever filmed
                break;
            case Datei::neu:
                EXPECT_EQ(inhalt(), "");
                EXPECT_TRUE(std::filesystem::exists(ziel()));
                break;
            case Datei::keine:
                EXPECT_FALSE(std::filesystem::exists(ziel()));
                break;
        }
        capture_.reset();
    }

    // A writer busy for its first three pictures drops them and counts the rest.
    ZeilenMitschnitt mit;
    szenario_ = {};
    desktop({{7, "Zoom Meeting"}});
    szenario_.videoSchreiber.beschaeftigtBeiAbfrage = {0, 1, 2};
    starte();
    laufeBis(4);
    const auto ergebnis = stoppe();
    ASSERT_TRUE(ergebnis);
    EXPECT_EQ(ergebnis->frames, 4 * 15 + 1 - 3);
}

// A still window after a change the busy writer refused: the stream sends only
// "unchanged" from then on, and the changed picture goes in at the next tick
// instead of the old one standing in the file.
TEST_F(VideoAufsicht, APictureTheBusyWriterRefusedGoesInAtTheNextTick) {
    desktop({{7, "Zoom Meeting"}});
    szenario_.fensterVideo.statusVon = [](std::uint64_t k) {
        return k < 2 ? BildStatus::vollstaendig : BildStatus::unveraendert;
    };
    szenario_.videoSchreiber.beschaeftigtBeiAbfrage = {1};
    starte();
    laufeBis(2);
    const auto ergebnis = stoppe();
    ASSERT_TRUE(ergebnis);
    EXPECT_EQ(ergebnis->frames, 2);
    const auto stand = umgebung_.videoSchreiber->stand();
    ASSERT_EQ(stand.zeiten.size(), 2u);
    // Taken one tick (1/15 s) after it was refused.
    EXPECT_NEAR(stand.zeiten[1] - stand.zeiten[0], 2.0 / 15.0, 1e-6);
}

TEST_F(VideoAufsicht, StopWhileStillWaitingEndsAtOnce) {
    desktop({{1, "Zoom"}});
    starte();
    laufeBis(9);
    EXPECT_EQ(pruefungen(), 4);
    EXPECT_FALSE(stoppe());
    EXPECT_EQ(pruefungen(), 4);
    EXPECT_TRUE(meldungen().empty());
    EXPECT_FALSE(stoppe());  // a second stop does nothing

    // On the real clock the sleeping supervision wakes for the stop at once.
    capture_.reset();
    szenario_ = {};
    desktop({{1, "Zoom"}});
    umgebung_ = baueSimPlattform(szenario_);
    WindowVideoCapture echt(ordner_, START, umgebung_.plattform, {});
    echt.starteGeduldig(120.0);
    ASSERT_TRUE(umgebung_.systemAudio->warte(
        [](const SimSystemAudioAufrufe& a) { return a.fensterAbfragen >= 1; }, 5s));
    const auto vorher = std::chrono::steady_clock::now();
    EXPECT_FALSE(echt.stop());
    EXPECT_LT(std::chrono::steady_clock::now() - vorher, 1s);
    EXPECT_EQ(umgebung_.systemAudio->stand().fensterAbfragen, 1);
}

// A screen-capture service whose window list hangs until released, as an X
// server that stopped answering.
class HaengenderBildschirm final : public BildschirmAufnahme {
  public:
    explicit HaengenderBildschirm(std::shared_ptr<BildschirmAufnahme> echt) : echt_(echt) {}
    TeilbarerInhalt teilbarerInhalt() override {
        std::unique_lock l(mutex_);
        haengt_ = true;
        cv_.notify_all();
        cv_.wait(l, [&] { return frei_; });
        return echt_->teilbarerInhalt();
    }
    std::unique_ptr<SystemAudioStrom> starteSystemAudio(const Display& d,
                                                        const SystemAudioKonfiguration& k,
                                                        SampleFunktion s, StopFunktion f) override {
        return echt_->starteSystemAudio(d, k, std::move(s), std::move(f));
    }
    void warteBisHaengt() {
        std::unique_lock l(mutex_);
        cv_.wait(l, [&] { return haengt_; });
    }
    void gibFrei() {
        std::lock_guard l(mutex_);
        frei_ = true;
        cv_.notify_all();
    }

  private:
    std::shared_ptr<BildschirmAufnahme> echt_;
    std::mutex mutex_;
    std::condition_variable cv_;
    bool haengt_ = false;
    bool frei_ = false;
};

TEST_F(VideoAufsicht, StopDoesNotWaitLongForAHangingPlatform) {
    desktop({{7, "Zoom Meeting"}});
    umgebung_ = baueSimPlattform(szenario_);
    auto haengend = std::make_shared<HaengenderBildschirm>(umgebung_.plattform.bildschirm);
    Plattform p = umgebung_.plattform;
    p.bildschirm = haengend;
    auto capture = std::make_unique<WindowVideoCapture>(ordner_, START, p, nullptr);
    capture->starteGeduldig(120.0);
    haengend->warteBisHaengt();

    const auto vorher = std::chrono::steady_clock::now();
    EXPECT_FALSE(capture->stop(200ms));
    const auto dauer = std::chrono::steady_clock::now() - vorher;
    EXPECT_GE(dauer, 200ms);
    EXPECT_LT(dauer, 2s);
    EXPECT_EQ(logZeilen("[hoerspur] Video-Stopp: keine Antwort nach ").size(), 1u);

    // Once the platform answers, the supervision ends by itself without filming.
    haengend->gibFrei();
    capture.reset();
    EXPECT_EQ(umgebung_.fensterVideo->stand().starts, 0);
}

}  // namespace
}  // namespace hoerspur
