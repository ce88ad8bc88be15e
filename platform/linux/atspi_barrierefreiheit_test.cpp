// The AT-SPI backend against the GTK test client on a private accessibility bus
// (scripts/atspi-fixture): finding the application by pid, the mapped roles and
// attributes, element equality, the press action, and calls to an application
// that stopped answering.
#include "platform/linux/atspi_barrierefreiheit.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <optional>
#include <string>
#include <thread>

#include "tests/befehl.h"
#include "tests/dateien.h"
#include "tests/fixtur.h"
#include "tests/kindprozess.h"

// libatspi gives up on a call at its timeout but leaves the call's bookkeeping
// (libdbus's pending call and timeout, libatspi's small records) with the
// connection until an answer comes; for the calls to the stopped client that is
// the end of this program. Their stacks end in those libraries.
extern "C" const char* __lsan_default_suppressions() {
    return "leak:dbind_send_and_allow_reentry\nleak:libdbus-1.so\nleak:g_malloc0\n";
}

// glib is built without frame pointers: the fast unwinder stops at g_malloc, so
// a leak report would carry no frame the list above could match. The slow one
// follows the whole stack; ASAN_OPTIONS from the environment still win.
extern "C" const char* __asan_default_options() {
    return "fast_unwind_on_malloc=0";
}

namespace hoerspur {
namespace {

using namespace std::chrono_literals;
using Uhr = std::chrono::steady_clock;

std::string text(Barrierefreiheit& bf, const BfElement& e, const char* attribut) {
    const BfWert w = bf.lies(e, attribut);
    const auto* s = std::get_if<std::string>(&w);
    return s != nullptr ? *s : "<fehlt>";
}

std::vector<BfElement> liste(Barrierefreiheit& bf, const BfElement& e, const char* attribut) {
    BfWert w = bf.lies(e, attribut);
    if (auto* l = std::get_if<std::vector<BfElement>>(&w)) return *l;
    if (auto* einzeln = std::get_if<BfElement>(&w)) return {*einzeln};
    return {};
}

// The first element in pre-order whose title or value is `titel`.
BfElement finde(Barrierefreiheit& bf, const BfElement& e, const std::string& titel) {
    if (text(bf, e, "AXTitle") == titel || text(bf, e, "AXValue") == titel) return e;
    for (const BfElement& k : liste(bf, e, "AXChildren")) {
        if (BfElement t = finde(bf, k, titel)) return t;
    }
    return nullptr;
}

// One private session and one client for the whole program: libatspi connects
// once per process.
class AtspiBackend : public ::testing::Test {
  protected:
    static void SetUpTestSuite() {
        dir_ = neuerOrdner("hs-at");
        sitzung_ = new AtspiFixtur(dir_ + "/s");
        sitzung_->starte();
        sitzung_->setzeUmgebung();
        const int aus = ausgabeDatei(dir_ + "/client.out");
        client_ = starteKind({.argv = {ZOOM_TESTCLIENT_PFAD, "--wechsel", "1000"}, .aus = aus});
        close(aus);
        registriert_ = sitzung_->warteAuf(client_, 20);
        bf_ = atspiBarrierefreiheit().release();
    }
    static void TearDownTestSuite() {
        kill(client_, SIGKILL);
        waitpid(client_, nullptr, 0);
        delete sitzung_;
        sitzung_ = nullptr;
        sh("rm -rf " + dir_);
    }
    void SetUp() override {
        ASSERT_TRUE(registriert_);
        ASSERT_TRUE(bf_->freigabe().vorhanden) << bf_->freigabe().fehlt;
    }
    BfElement app() { return bf_->anwendung(client_); }
    BfElement fenster() {
        const auto f = liste(*bf_, app(), "AXChildren");
        return f.empty() ? nullptr : f.front();
    }

    static inline std::string dir_;
    static inline AtspiFixtur* sitzung_ = nullptr;
    static inline pid_t client_ = -1;
    static inline bool registriert_ = false;
    static inline Barrierefreiheit* bf_ = nullptr;  // lives as long as the process
};

TEST_F(AtspiBackend, TheApplicationOfAPidAndItsWindowsAreOneElementEach) {
    Barrierefreiheit& bf = *bf_;
    const BfElement a = app();
    EXPECT_EQ(text(bf, a, "AXRole"), "AXApplication");
    EXPECT_EQ(text(bf, a, "AXTitle"), "zoom-testclient");
    const auto kinder = liste(bf, a, "AXChildren");
    const auto fenster = liste(bf, a, "AXWindows");
    const auto fokus = liste(bf, a, "AXMainWindow");
    ASSERT_EQ(kinder.size(), 1u);
    ASSERT_EQ(fenster.size(), 1u);
    ASSERT_EQ(fokus.size(), 1u);
    EXPECT_TRUE(bf.gleich(kinder[0], fenster[0]));
    EXPECT_TRUE(bf.gleich(kinder[0], fokus[0]));
    EXPECT_FALSE(bf.gleich(kinder[0], a));
    EXPECT_EQ(text(bf, kinder[0], "AXRole"), "AXWindow");
    EXPECT_EQ(text(bf, kinder[0], "AXSubrole"), "AXStandardWindow");
    EXPECT_EQ(text(bf, kinder[0], "AXTitle"), "Zoom Meeting");

    // A process without an application: every read fails.
    const BfElement fremd = bf.anwendung(1);
    EXPECT_TRUE(std::holds_alternative<std::monostate>(bf.lies(fremd, "AXRole")));
    EXPECT_TRUE(std::holds_alternative<std::monostate>(bf.lies(fremd, "AXChildren")));
}

TEST_F(AtspiBackend, RolesAndAttributesComeOutUnderTheObserversNames) {
    Barrierefreiheit& bf = *bf_;
    const BfElement knopf = finde(bf, fenster(), "Teilnehmer");
    ASSERT_TRUE(knopf);
    EXPECT_EQ(text(bf, knopf, "AXRole"), "AXButton");
    EXPECT_EQ(text(bf, knopf, "AXIdentifier"), "teilnehmer-knopf");
    EXPECT_EQ(text(bf, knopf, "AXRoleDescription"), "push button");
    EXPECT_TRUE(std::holds_alternative<std::monostate>(bf.lies(knopf, "AXValue")));
    // A label carries its text as value, not as title.
    const auto kinderVon = [&](const BfElement& e) { return liste(bf, e, "AXChildren"); };
    BfElement kachel;
    std::vector<BfElement> offen = {fenster()};
    while (!offen.empty() && !kachel) {
        const BfElement e = offen.back();
        offen.pop_back();
        if (text(bf, e, "AXRole") == "AXTabGroup") kachel = e;
        for (const BfElement& k : kinderVon(e)) offen.push_back(k);
    }
    ASSERT_TRUE(kachel);
    EXPECT_NE(text(bf, kachel, "AXDescription").find(", Video o"), std::string::npos);
    const BfElement label = kinderVon(kinderVon(kachel).at(0)).at(0);
    EXPECT_EQ(text(bf, label, "AXRole"), "AXStaticText");
    EXPECT_EQ(text(bf, label, "AXTitle"), "<fehlt>");
    EXPECT_EQ(text(bf, kachel, "AXDescription").substr(0, text(bf, label, "AXValue").size()),
              text(bf, label, "AXValue"));
}

TEST_F(AtspiBackend, PressingTheButtonOpensAndClosesThePanel) {
    Barrierefreiheit& bf = *bf_;
    const BfElement knopf = finde(bf, fenster(), "Teilnehmer");
    ASSERT_TRUE(knopf);
    const auto hatListe = [&] {
        return finde(bf, fenster(), "Jean-Luc Favre") != nullptr &&
               finde(bf, fenster(), "Teilnehmer (5)") != nullptr;
    };
    EXPECT_FALSE(hatListe());
    ASSERT_TRUE(bf.fuehreAus(knopf, "AXPress"));
    const auto ende = Uhr::now() + 5s;
    while (!hatListe() && Uhr::now() < ende) std::this_thread::sleep_for(50ms);
    EXPECT_TRUE(hatListe());
    ASSERT_TRUE(bf.fuehreAus(knopf, "AXPress"));
    EXPECT_FALSE(bf.fuehreAus(knopf, "AXShowMenu"));
    // Switching the session's accessibility on succeeds on the application only.
    EXPECT_TRUE(bf.setze(app(), "AXManualAccessibility", true));
    EXPECT_FALSE(bf.setze(knopf, "AXManualAccessibility", true));
}

TEST_F(AtspiBackend, AnApplicationThatStoppedAnsweringCostsTheTimeoutNotMore) {
    Barrierefreiheit& bf = *bf_;
    const BfElement a = app();
    const BfElement f = fenster();
    ASSERT_TRUE(f);
    bf.setzeZeitlimit(a, 0.3);
    kill(client_, SIGSTOP);
    // The client started moments ago: no grace period for young applications.
    // (Names, roles and children may still come from libatspi's cache; the
    // identifier is always asked for.)
    const auto start = Uhr::now();
    const BfWert id1 = bf.lies(f, "AXIdentifier");
    const BfWert id3 = bf.lies(f, "AXIdentifier");
    const auto dauer = Uhr::now() - start;
    kill(client_, SIGCONT);
    bf.setzeZeitlimit(a, 1.5);
    EXPECT_TRUE(std::holds_alternative<std::monostate>(id1));
    EXPECT_TRUE(std::holds_alternative<std::monostate>(id3));
    EXPECT_LT(dauer, 3s);
    // Answering again, it is read as before; the late answers to the calls that
    // timed out are taken in on the way.
    std::this_thread::sleep_for(200ms);
    EXPECT_EQ(text(bf, fenster(), "AXTitle"), "Zoom Meeting");
    EXPECT_EQ(text(bf, finde(bf, fenster(), "Teilnehmer"), "AXIdentifier"), "teilnehmer-knopf");
}

}  // namespace
}  // namespace hoerspur
