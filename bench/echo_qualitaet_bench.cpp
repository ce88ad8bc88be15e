// Echo quality over time on synthetic calls: how much echo the path removes, second by
// second, with the linear filter alone and with the postfilter, how fast it gets there
// after the start and after a realignment, how it does right after double talk, and how
// much of the near end's own voice it takes away.
//
// Every call lasts 60 s: a German far end and an English near end spoken by espeak-ng
// (scripts/echo-stimmen.sh, sentences peak-normalised to -8 dBFS, made once into the
// output folder); the far end talks throughout, with the pauses between its sentences,
// and reaches the microphone through a room at half level. One more call has a strongly
// periodic synthetic voice (glottal pulses, test::stimmhaft) as the far end. Without
// espeak-ng every call falls back to that voice. Each is run
// twice through EchoStrecke, postfilter on and off.
//
// Echo attenuation is measured on the microphone's 256-sample blocks in far-end-only
// stretches (no near-end speech) where the echo stands at least 10 dB above the noise:
// 10 log10(sum mic^2 / sum out^2). The curve gives it per second; "t20" is the end of
// the first 1 s window (windows every 0.25 s) from the start or from a realignment that
// reaches 20 dB, in seconds after that point. "nach DT" pools the first second after
// each near-end stretch; "49-59 s" the ten seconds before the last (whose end is
// a flush, not a call). "Nah" is the near end's level in the
// output against its own, 20 log10(sum out*nah / sum nah^2), over its stretches.
//
// Writes echo-qualitaet.csv (curves) and echo-qualitaet-ereignisse.csv (near-end
// stretches, delay changes, realignments) into the folder given as the first argument
// (default: echo-qualitaet beside this program), then draws echo-qualitaet.png with
// scripts/echo-kurven.py.
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "recorder/echo/echo_strecke.h"
#include "recorder/echo/test_gespraech.h"

namespace {

using namespace hoerspur;

constexpr int N = 256;
constexpr double RATE = 16000.0;
constexpr double BLOECKE_PRO_S = RATE / N;  // 62.5

struct Szenario {
    const char* name;
    std::vector<test::EchoAbschnitt> abschnitte;
    std::vector<test::Zeitraum> nah;
    double rauschen;          // standard deviation of the microphone noise
    bool periodisch = false;  // far end: the pulse-train voice instead of speech
};

constexpr double SEKUNDEN = 60.0;
// -80 dBFS, a quiet room; -55 dBFS, a noisy one.
constexpr double LEISE = 1e-4;
const double LAUT = std::pow(10.0, -55.0 / 20.0);

std::vector<Szenario> szenarien() {
    return {
        {"v40", {{SEKUNDEN, 640}}, {}, LEISE},
        {"v250", {{SEKUNDEN, 4000}}, {}, LEISE},
        {"v600", {{SEKUNDEN, 9600}}, {}, LEISE},
        {"v750", {{SEKUNDEN, 12000}}, {}, LEISE},
        {"doppelt",
         {{SEKUNDEN, 640}},
         {{10.0, 13.0}, {20.0, 21.0}, {28.0, 32.0}, {40.0, 41.5}, {50.0, 52.0}},
         LEISE},
        {"wechsel", {{20.0, 4000}, {40.0, 9600}, {SEKUNDEN, 8000}}, {}, LEISE},
        {"rauschen", {{SEKUNDEN, 4000}}, {{30.0, 35.0}}, LAUT},
        {"periodisch", {{SEKUNDEN, 640}}, {}, LEISE, true},
    };
}

struct Lauf {
    std::vector<float> aus;
    std::vector<double> versatzZeiten;  // seconds at which the alignment changed
};

Lauf durchlaufen(const test::Gespraech& g, bool nachfilter) {
    Lauf l;
    EchoStrecke strecke(20);
    strecke.nachfilter(nachfilter);
    strecke.ausgabe = [&l](std::span<const float> s, std::span<const bool>) {
        l.aus.insert(l.aus.end(), s.begin(), s.end());
    };
    std::int64_t wechsel = 0;
    for (std::size_t i = 0; i + N <= g.mikro.size(); i += N) {
        strecke.referenz({g.fern.data() + i, N});
        strecke.mikro({g.mikro.data() + i, N});
        if (strecke.versatzWechsel() != wechsel) {
            wechsel = strecke.versatzWechsel();
            l.versatzZeiten.push_back(static_cast<double>(i) / RATE);
        }
    }
    strecke.abschliessen();
    return l;
}

// Per microphone block: energy of microphone, output and echo, and whether it counts
// as far-end-only with audible echo.
struct Bloecke {
    std::vector<double> mik, aus;
    std::vector<bool> zaehlt;
};

bool inNah(const Szenario& s, double t0, double t1) {
    return std::any_of(s.nah.begin(), s.nah.end(),
                       [&](const test::Zeitraum& z) { return t0 < z.bis && t1 > z.ab; });
}

Bloecke bloecke(const Szenario& s, const test::Gespraech& g, const std::vector<float>& aus) {
    const std::size_t anzahl = g.mikro.size() / N;
    Bloecke b;
    b.mik.assign(anzahl, 0.0);
    b.aus.assign(anzahl, 0.0);
    b.zaehlt.assign(anzahl, false);
    const double rauschBlock = s.rauschen * s.rauschen * N;
    for (std::size_t k = 0; k < anzahl; ++k) {
        double em = 0.0, ea = 0.0, ee = 0.0;
        for (std::size_t i = k * N; i < (k + 1) * N; ++i) {
            em += static_cast<double>(g.mikro[i]) * g.mikro[i];
            ea += static_cast<double>(aus[i]) * aus[i];
            ee += static_cast<double>(g.echo[i]) * g.echo[i];
        }
        b.mik[k] = em;
        b.aus[k] = ea;
        b.zaehlt[k] =
            ee > 10.0 * rauschBlock && !inNah(s, k / BLOECKE_PRO_S, (k + 1) / BLOECKE_PRO_S);
    }
    return b;
}

// Attenuation over the counted blocks in [von, bis) seconds; NAN when fewer than
// `mindestens` of them count.
double daempfung(const Bloecke& b, double von, double bis, std::size_t mindestens = 8) {
    const auto k0 = static_cast<std::size_t>(std::max(0.0, std::ceil(von * BLOECKE_PRO_S)));
    const auto k1 = std::min(b.mik.size(), static_cast<std::size_t>(bis * BLOECKE_PRO_S));
    double em = 0.0, ea = 0.0;
    std::size_t n = 0;
    for (std::size_t k = k0; k < k1; ++k) {
        if (!b.zaehlt[k]) continue;
        em += b.mik[k];
        ea += b.aus[k];
        ++n;
    }
    if (n < mindestens) return NAN;
    return 10.0 * std::log10(em / std::max(ea, 1e-30));
}

// Seconds from `ab` to the end of the first 1 s window that reaches 20 dB, NAN if none
// does before `bis`.
double bis20Db(const Bloecke& b, double ab, double bis) {
    for (double t = ab; t + 1.0 <= bis; t += 0.25) {
        if (daempfung(b, t, t + 1.0, 16) >= 20.0) return t + 1.0 - ab;
    }
    return NAN;
}

double nahPegelDb(const Szenario& s, const test::Gespraech& g, const std::vector<float>& aus) {
    double kreuz = 0.0, nah = 0.0;
    for (const test::Zeitraum& z : s.nah) {
        for (auto i = static_cast<std::size_t>(z.ab * RATE); i < z.bis * RATE; ++i) {
            kreuz += static_cast<double>(aus[i]) * g.nah[i];
            nah += static_cast<double>(g.nah[i]) * g.nah[i];
        }
    }
    return nah > 0.0 ? 20.0 * std::log10(std::max(kreuz, 1e-30) / nah) : NAN;
}

double nachDoppelsprechen(const Szenario& s, const Bloecke& b) {
    double em = 0.0, ea = 0.0;
    for (const test::Zeitraum& z : s.nah) {
        for (auto k = static_cast<std::size_t>(std::ceil(z.bis * BLOECKE_PRO_S));
             k < std::min(b.mik.size(), static_cast<std::size_t>((z.bis + 1.0) * BLOECKE_PRO_S));
             ++k) {
            if (!b.zaehlt[k]) continue;
            em += b.mik[k];
            ea += b.aus[k];
        }
    }
    return em > 0.0 ? 10.0 * std::log10(em / std::max(ea, 1e-30)) : NAN;
}

std::string zahl(double v, const char* format = "%.1f", const char* fehlt = "-") {
    if (std::isnan(v)) return fehlt;
    char puffer[32];
    std::snprintf(puffer, sizeof puffer, format, v);
    return puffer;
}

std::string paar(double a, double b) {
    return zahl(a) + "/" + zahl(b);
}

// 60 s of 16 kHz float samples from a file, empty if it cannot be read whole.
std::vector<float> stimmeLesen(const std::filesystem::path& datei) {
    std::vector<float> v(static_cast<std::size_t>(SEKUNDEN * RATE));
    std::FILE* f = std::fopen(datei.c_str(), "rb");
    if (!f) return {};
    const std::size_t gelesen = std::fread(v.data(), sizeof(float), v.size(), f);
    std::fclose(f);
    if (gelesen != v.size()) return {};
    return v;
}

std::filesystem::path programmOrdner() {
    std::error_code fehler;
    const auto selbst = std::filesystem::read_symlink("/proc/self/exe", fehler);
    return fehler ? std::filesystem::current_path() : selbst.parent_path();
}

}  // namespace

int main(int argc, char** argv) {
    const std::filesystem::path ordner =
        argc > 1 ? std::filesystem::path(argv[1]) : programmOrdner() / "echo-qualitaet";
    std::filesystem::create_directories(ordner);
    const auto kurvenDatei = ordner / "echo-qualitaet.csv";
    const auto ereignisDatei = ordner / "echo-qualitaet-ereignisse.csv";
    std::FILE* kurven = std::fopen(kurvenDatei.c_str(), "w");
    std::FILE* ereignisse = std::fopen(ereignisDatei.c_str(), "w");
    if (!kurven || !ereignisse) {
        std::fprintf(stderr, "echo-qualitaet: kann nicht nach %s schreiben\n", ordner.c_str());
        return 2;
    }
    // The spoken voices, made once.
    const auto stimmen = ordner / "stimmen";
    std::vector<float> fernSprache = stimmeLesen(stimmen / "fern.f32");
    std::vector<float> nahSprache = stimmeLesen(stimmen / "nah.f32");
#ifdef HOERSPUR_QUELLEN
    if (fernSprache.empty() || nahSprache.empty()) {
        const std::string befehl = std::string("'") + HOERSPUR_QUELLEN +
                                   "/scripts/echo-stimmen.sh' '" + stimmen.string() + "'";
        if (std::system(befehl.c_str()) == 0) {
            fernSprache = stimmeLesen(stimmen / "fern.f32");
            nahSprache = stimmeLesen(stimmen / "nah.f32");
        }
    }
#endif
    const bool gesprochen = !fernSprache.empty() && !nahSprache.empty();
    std::fprintf(kurven, "szenario,sekunde,linear_db,nachfilter_db\n");
    std::fprintf(ereignisse, "szenario,art,ab_s,bis_s\n");

    std::printf(
        "Echo attenuation in dB, far-end-only stretches, linear filter / with postfilter\n");
    std::printf("voices: %s\n", gesprochen ? "espeak-ng, German far end, English near end"
                                           : "synthetic pulse-train voices (no espeak-ng)");
    std::printf("%-10s %-11s %-11s %-15s %-11s %-11s %-11s %-11s %-11s %s\n", "scenario",
                "t20 start", "t20 realign", "realign at s", "5 s", "10 s", "20 s", "49-59 s",
                "1 s after DT", "near dB");
    unsigned seed = 100;
    for (const Szenario& s : szenarien()) {
        const unsigned saat = seed++;
        const test::Gespraech g = gesprochen && !s.periodisch
                                      ? test::gespraech(fernSprache, nahSprache, SEKUNDEN,
                                                        s.abschnitte, s.nah, saat, s.rauschen)
                                      : test::gespraech(SEKUNDEN, s.abschnitte, s.nah, saat,
                                                        s.rauschen, test::Stimme::Stimmhaft);
        const Lauf lin = durchlaufen(g, false);
        const Lauf nf = durchlaufen(g, true);
        const Bloecke bl = bloecke(s, g, lin.aus);
        const Bloecke bn = bloecke(s, g, nf.aus);

        for (int t = 0; t < static_cast<int>(SEKUNDEN); ++t) {
            std::fprintf(kurven, "%s,%d,%s,%s\n", s.name, t + 1,
                         zahl(daempfung(bl, t, t + 1), "%.2f", "").c_str(),
                         zahl(daempfung(bn, t, t + 1), "%.2f", "").c_str());
        }
        for (const test::Zeitraum& z : s.nah)
            std::fprintf(ereignisse, "%s,nah,%.3f,%.3f\n", s.name, z.ab, z.bis);
        for (std::size_t a = 0; a + 1 < s.abschnitte.size(); ++a) {
            std::fprintf(ereignisse, "%s,verzoegerung,%.3f,%.3f\n", s.name,
                         s.abschnitte[a].bisSekunden, s.abschnitte[a].bisSekunden);
        }
        for (double t : nf.versatzZeiten)
            std::fprintf(ereignisse, "%s,versatz,%.3f,%.3f\n", s.name, t, t);

        // Time to 20 dB after each realignment, until the next one or the next delay change.
        std::string nachVersatz, versatzAn;
        for (std::size_t r = 0; r < nf.versatzZeiten.size(); ++r) {
            const double ab = nf.versatzZeiten[r];
            double bis = r + 1 < nf.versatzZeiten.size() ? nf.versatzZeiten[r + 1] : SEKUNDEN;
            for (const auto& a : s.abschnitte) {
                if (a.bisSekunden > ab) bis = std::min(bis, a.bisSekunden);
            }
            if (!nachVersatz.empty()) {
                nachVersatz += " ";
                versatzAn += " ";
            }
            nachVersatz += paar(bis20Db(bl, ab, bis), bis20Db(bn, ab, bis));
            versatzAn += zahl(ab);
        }
        std::printf(
            "%-10s %-11s %-11s %-15s %-11s %-11s %-11s %-11s %-11s %s\n", s.name,
            paar(bis20Db(bl, 0.0, SEKUNDEN), bis20Db(bn, 0.0, SEKUNDEN)).c_str(),
            nachVersatz.empty() ? "-" : nachVersatz.c_str(),
            versatzAn.empty() ? "-" : versatzAn.c_str(),
            paar(daempfung(bl, 4, 5), daempfung(bn, 4, 5)).c_str(),
            paar(daempfung(bl, 9, 10), daempfung(bn, 9, 10)).c_str(),
            paar(daempfung(bl, 19, 20), daempfung(bn, 19, 20)).c_str(),
            paar(daempfung(bl, SEKUNDEN - 11, SEKUNDEN - 1),
                 daempfung(bn, SEKUNDEN - 11, SEKUNDEN - 1))
                .c_str(),
            s.nah.empty() ? "-"
                          : paar(nachDoppelsprechen(s, bl), nachDoppelsprechen(s, bn)).c_str(),
            s.nah.empty() ? "-"
                          : paar(nahPegelDb(s, g, lin.aus), nahPegelDb(s, g, nf.aus)).c_str());
    }
    std::fclose(kurven);
    std::fclose(ereignisse);

    const auto bild = ordner / "echo-qualitaet.png";
    std::printf("curves: %s\nevents: %s\n", kurvenDatei.c_str(), ereignisDatei.c_str());
#ifdef HOERSPUR_QUELLEN
    const std::string befehl = std::string("'") + HOERSPUR_QUELLEN + "/scripts/echo-kurven.py' '" +
                               kurvenDatei.string() + "' '" + ereignisDatei.string() + "' '" +
                               bild.string() + "'";
    if (std::system(befehl.c_str()) == 0) {
        std::printf("plot: %s\n", bild.c_str());
    } else {
        std::printf("plot: not drawn (scripts/echo-kurven.py needs python3-matplotlib)\n");
    }
#endif
    return 0;
}
