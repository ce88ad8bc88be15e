// The X11 window stream against a private X server with a window manager
// (scripts/x11-fixture, found through HOERSPUR_QUELLEN, which ctest sets) and
// windows of our own test client (tests/video_testfenster.cpp).
#include "platform/linux/x11_fenster_aufnahme.h"

#include <gtest/gtest.h>
#include <pthread.h>
#include <signal.h>

#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "platform/plattform_fehler.h"
#include "tests/dateien.h"
#include "tests/fixtur.h"
#include "tests/testfenster.h"

// Last: Xlib's macros (None, Bool, Status) clash with GoogleTest's names.
#include <X11/Xlib.h>

namespace hoerspur {
namespace {

using namespace std::chrono_literals;

// A private X server; DISPLAY points to it while it lives.
class XServer : public X11Fixtur {
  public:
    explicit XServer(const std::string& art) : X11Fixtur(neuerOrdner("hs-x11")) {
        starte(art);
        setzeDisplay();
    }
};

// What a stream delivered, for the test thread to inspect.
class Mitschnitt {
  public:
    FensterAufnahme::BildFunktion proBild() {
        return [this](const FensterBild& b) {
            std::lock_guard lock(m_);
            if (gestoppt_) ++nachStop_;
            char name[16] = {};
            pthread_getname_np(pthread_self(), name, sizeof name);
            threadName_ = name;
            if (b.status == BildStatus::vollstaendig) {
                letztes_.setzeGroesse(b.bild.breite, b.bild.hoehe);
                letztes_.kopiereVon(b.bild);
                zeiten_.push_back(b.praesentationSekunden);
            } else if (b.status == BildStatus::unveraendert) {
                ++unveraendert_;
            }
            cv_.notify_all();
        };
    }
    FensterAufnahme::StopFunktion beiStop() {
        return [this](const std::string& text) {
            std::lock_guard lock(m_);
            ++stopps_;
            gestoppt_ = true;
            stopText_ = text;
            cv_.notify_all();
        };
    }

    // Waits for `n` more complete pictures; false after 10 s.
    bool warteAufBilder(std::size_t n) {
        std::unique_lock lock(m_);
        const std::size_t ziel = zeiten_.size() + n;
        return cv_.wait_for(lock, 10s, [&] { return zeiten_.size() >= ziel; });
    }
    struct Punkt {
        int x, y;
        Farbe farbe;
    };
    // Waits until the latest picture has these colours; false after 10 s.
    bool warteAufFarben(const std::vector<Punkt>& punkte) {
        std::unique_lock lock(m_);
        return cv_.wait_for(lock, 10s, [&] {
            for (const Punkt& p : punkte) {
                if (!passt(p.x, p.y, p.farbe)) return false;
            }
            return true;
        });
    }
    bool warteAufStop() {
        std::unique_lock lock(m_);
        return cv_.wait_for(lock, 10s, [&] { return gestoppt_; });
    }

    ::testing::AssertionResult farbeBei(int x, int y, Farbe f) {
        std::lock_guard lock(m_);
        if (x >= letztes_.breite() || y >= letztes_.hoehe()) {
            return ::testing::AssertionFailure() << "kein Bild";
        }
        if (passt(x, y, f)) return ::testing::AssertionSuccess();
        const std::uint8_t* p = letztes_.zeile(y) + 4 * x;
        return ::testing::AssertionFailure()
               << "bei (" << x << "," << y << "): " << int{p[2]} << "," << int{p[1]} << ","
               << int{p[0]} << " alpha " << int{p[3]} << " statt " << f.rot << "," << f.gruen << ","
               << f.blau;
    }

    std::vector<double> zeiten() {
        std::lock_guard lock(m_);
        return zeiten_;
    }
    int unveraendert() {
        std::lock_guard lock(m_);
        return unveraendert_;
    }
    std::string threadName() {
        std::lock_guard lock(m_);
        return threadName_;
    }
    std::string stopText() {
        std::lock_guard lock(m_);
        return stopText_;
    }
    int stopps() {
        std::lock_guard lock(m_);
        return stopps_;
    }
    int nachStop() {
        std::lock_guard lock(m_);
        return nachStop_;
    }
    std::pair<int, int> groesse() {
        std::lock_guard lock(m_);
        return {letztes_.breite(), letztes_.hoehe()};
    }

  private:
    // unter m_
    bool passt(int x, int y, Farbe f) {
        if (x >= letztes_.breite() || y >= letztes_.hoehe()) return false;
        const std::uint8_t* p = letztes_.zeile(y) + 4 * x;
        // Scaling keeps flat colours exact away from edges; a step of slack.
        constexpr int kToleranz = 1;
        return std::abs(p[2] - f.rot) <= kToleranz && std::abs(p[1] - f.gruen) <= kToleranz &&
               std::abs(p[0] - f.blau) <= kToleranz && p[3] == 255;
    }

    std::mutex m_;
    std::condition_variable cv_;
    BgraPuffer letztes_;
    std::vector<double> zeiten_;
    int unveraendert_ = 0;
    int stopps_ = 0;
    int nachStop_ = 0;
    bool gestoppt_ = false;
    std::string stopText_;
    std::string threadName_;
};

class X11FensterStromTest : public ::testing::Test {
  protected:
    static void SetUpTestSuite() {
        // A client that died with its server must not take the test with it.
        signal(SIGPIPE, SIG_IGN);
        server_ = new XServer("mit-wm");
        ASSERT_TRUE(server_->laeuft()) << "x11-fixture startet nicht";
    }
    static void TearDownTestSuite() {
        delete server_;
        server_ = nullptr;
    }

    void SetUp() override {
        ASSERT_NE(server_, nullptr);
        ASSERT_TRUE(server_->laeuft());
        anzeige_ = XOpenDisplay(nullptr);
        ASSERT_NE(anzeige_, nullptr);
    }
    void TearDown() override {
        if (anzeige_ != nullptr) XCloseDisplay(anzeige_);
    }

    std::unique_ptr<FensterStrom> starte(std::uint32_t id, Mitschnitt& m) {
        return aufnahme_->starteFensterStrom(id, FensterStromKonfiguration{}, m.proBild(),
                                             m.beiStop());
    }

    // Moves the pointer to a point of a window (or of the screen for 0).
    void zeigeAuf(std::uint32_t fenster, int x, int y) {
        XWarpPointer(anzeige_, None, fenster != 0 ? fenster : DefaultRootWindow(anzeige_), 0, 0, 0,
                     0, x, y);
        XSync(anzeige_, False);
    }

    static XServer* server_;
    Display* anzeige_ = nullptr;
    std::shared_ptr<FensterAufnahme> aufnahme_ = neueX11FensterAufnahme();
};

XServer* X11FensterStromTest::server_ = nullptr;

TEST_F(X11FensterStromTest, FilmsTheWindowsOwnContentScaledToFitAlsoWhenCovered) {
    // Square window: scaled to 800 × 800 between bars of 240 on either side.
    Testfenster quadrat({"--groesse", "400x400", "--position", "100,100", "--cursor", "ff00ff"});
    ASSERT_NE(quadrat.id(), 0u);
    zeigeAuf(0, 1900, 1070);
    {
        Mitschnitt m;
        auto strom = starte(quadrat.id(), m);
        ASSERT_TRUE(m.warteAufBilder(1));
        EXPECT_EQ(m.threadName(), "sck.video");
        EXPECT_EQ(m.groesse(), std::make_pair(1280, 800));
        EXPECT_TRUE(m.farbeBei(100, 400, kSchwarz));
        EXPECT_TRUE(m.farbeBei(1180, 400, kSchwarz));
        EXPECT_TRUE(m.farbeBei(440, 200, kQuadrant[0]));
        EXPECT_TRUE(m.farbeBei(840, 200, kQuadrant[1]));
        EXPECT_TRUE(m.farbeBei(440, 600, kQuadrant[2]));
        EXPECT_TRUE(m.farbeBei(840, 600, kQuadrant[3]));

        // A still window gives no new pictures, only frames saying so.
        std::this_thread::sleep_for(400ms);
        EXPECT_EQ(m.zeiten().size(), 1u);
        EXPECT_GE(m.unveraendert(), 3);

        // The pointer over the window: its cursor (16 × 16, hot spot top left)
        // at the scaled place, at its own size; taken away when it leaves.
        zeigeAuf(quadrat.id(), 50, 50);
        ASSERT_TRUE(m.warteAufBilder(1));
        EXPECT_TRUE(m.farbeBei(240 + 100 + 8, 100 + 8, Farbe{0xff, 0x00, 0xff}));
        EXPECT_TRUE(m.farbeBei(240 + 100 + 20, 100 + 20, kQuadrant[0]));
        zeigeAuf(0, 1900, 1070);
        ASSERT_TRUE(m.warteAufBilder(1));
        EXPECT_TRUE(m.farbeBei(240 + 100 + 8, 100 + 8, kQuadrant[0]));
        strom->stoppe();
        strom->stoppe();
        EXPECT_EQ(m.stopps(), 0);
    }

    // Covered by another window before and while filming: its own content and
    // its changes still show.
    Testfenster decke({"--ueberdecken", "808080"});
    Mitschnitt m;
    auto strom = starte(quadrat.id(), m);
    // Redirected while covered, the window is exposed and repaints itself: its
    // first picture may come before that.
    ASSERT_TRUE(m.warteAufFarben({{440, 200, kQuadrant[0]}, {840, 600, kQuadrant[3]}}));
    EXPECT_TRUE(quadrat.befehl("farbe 10e0e0"));
    ASSERT_TRUE(m.warteAufBilder(1));
    EXPECT_TRUE(m.farbeBei(640, 400, Farbe{0x10, 0xe0, 0xe0}));
    EXPECT_TRUE(m.farbeBei(100, 400, kSchwarz));

    // Switched to a wide window: bars above and below (1600 × 600 becomes 1280 × 480).
    Testfenster breit({"--groesse", "1600x600", "--position", "0,300"});
    strom->wechsleFenster(breit.id());
    ASSERT_TRUE(m.warteAufBilder(1));
    EXPECT_TRUE(m.farbeBei(640, 80, kSchwarz));
    EXPECT_TRUE(m.farbeBei(640, 720, kSchwarz));
    EXPECT_TRUE(m.farbeBei(320, 280, kQuadrant[0]));
    EXPECT_TRUE(m.farbeBei(960, 280, kQuadrant[1]));
    EXPECT_TRUE(m.farbeBei(320, 520, kQuadrant[2]));
    EXPECT_TRUE(m.farbeBei(960, 520, kQuadrant[3]));

    // Resized to a larger square: bars beside it again (1000 × 1000 becomes 800 × 800).
    EXPECT_TRUE(breit.befehl("groesse 1000x1000"));
    // The picture right after the resize may still lack the repainted content.
    ASSERT_TRUE(m.warteAufFarben({{100, 400, kSchwarz}, {440, 200, kQuadrant[0]}}));
    EXPECT_TRUE(m.farbeBei(100, 400, kSchwarz));
    EXPECT_TRUE(m.farbeBei(1180, 400, kSchwarz));
    EXPECT_TRUE(m.farbeBei(440, 200, kQuadrant[0]));
    EXPECT_TRUE(m.farbeBei(840, 600, kQuadrant[3]));

    // A window that cannot be filmed leaves the stream on the one it had.
    EXPECT_THROW(strom->wechsleFenster(0x7ffff0u), PlattformFehler);
    EXPECT_TRUE(breit.befehl("farbe 303030"));
    ASSERT_TRUE(m.warteAufBilder(1));
    EXPECT_TRUE(m.farbeBei(640, 400, Farbe{0x30, 0x30, 0x30}));
    strom->stoppe();
    EXPECT_EQ(m.stopps(), 0);
}

TEST_F(X11FensterStromTest, MovingContentGivesAtMostFifteenPicturesASecond) {
    Testfenster bewegt({"--groesse", "640x400", "--bewegt"});
    Mitschnitt m;
    auto strom = starte(bewegt.id(), m);
    std::this_thread::sleep_for(2s);
    strom->stoppe();
    const std::vector<double> zeiten = m.zeiten();
    // The client draws 60 times a second; the stream takes at most every fifteenth of a second.
    // A sanitizer build on a busy machine copies and scales too slowly to keep the pace.
#if defined(__SANITIZE_THREAD__) || defined(__SANITIZE_ADDRESS__)
    ASSERT_GE(zeiten.size(), 3u);
#else
    ASSERT_GE(zeiten.size(), 10u);
#endif
    EXPECT_LE(zeiten.size(), 31u);
    for (std::size_t i = 1; i < zeiten.size(); ++i) {
        EXPECT_GE(zeiten[i] - zeiten[i - 1], 1.0 / 15 - 0.002) << i;
    }
}

TEST_F(X11FensterStromTest, AWindowThatGoesAwayEndsTheStreamWithAnError) {
    {
        Testfenster f({});
        Mitschnitt m;
        auto strom = starte(f.id(), m);
        ASSERT_TRUE(m.warteAufBilder(1));
        EXPECT_TRUE(f.befehl("unmap"));
        ASSERT_TRUE(m.warteAufStop());
        EXPECT_NE(m.stopText().find("Fenster ist nicht mehr sichtbar"), std::string::npos)
            << m.stopText();
        EXPECT_THROW(strom->wechsleFenster(f.id()), PlattformFehler);
        strom->stoppe();
        EXPECT_EQ(m.stopps(), 1);
        EXPECT_EQ(m.nachStop(), 0);

        // Not mapped: not filmed at all.
        Mitschnitt m2;
        EXPECT_THROW(starte(f.id(), m2), PlattformFehler);
    }
    {
        Testfenster f({});
        Mitschnitt m;
        auto strom = starte(f.id(), m);
        ASSERT_TRUE(m.warteAufBilder(1));
        EXPECT_TRUE(f.befehl("zerstoere"));
        ASSERT_TRUE(m.warteAufStop());
        EXPECT_NE(m.stopText().find("Fenster wurde geschlossen"), std::string::npos)
            << m.stopText();
        EXPECT_EQ(m.nachStop(), 0);
    }
    Mitschnitt m;
    try {
        starte(0x7ffff0u, m);
        ADD_FAILURE() << "kein Fehler";
    } catch (const PlattformFehler& f) {
        EXPECT_EQ(f.beschreibung(), "Fenster nicht gefunden");
    }
}

TEST_F(X11FensterStromTest, ALostXServerEndsTheStreamNotTheProcess) {
    XServer eigener("ohne-wm");
    ASSERT_TRUE(eigener.laeuft());
    Mitschnitt m;
    std::unique_ptr<FensterStrom> strom;
    {
        Testfenster f({});
        strom = starte(f.id(), m);
        ASSERT_TRUE(m.warteAufBilder(1));
        eigener.toete();
        ASSERT_TRUE(m.warteAufStop());
    }
    EXPECT_NE(m.stopText().find("Verbindung zum X-Server verloren"), std::string::npos)
        << m.stopText();
    strom->stoppe();
}

}  // namespace
}  // namespace hoerspur
