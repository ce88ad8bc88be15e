#include "platform/sim/sim_szenario.h"

#include <nlohmann/json.hpp>

#include <cmath>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <limits>
#include <optional>
#include <set>
#include <utility>

#include "platform/sim/sim_json_objekt.h"

namespace hoerspur {

namespace {

using Json = nlohmann::json;

// Far beyond any test, yet small enough that frame counts and stamps stay exact.
constexpr double MAX_FRAMES = 1099511627776.0;  // 2^40
constexpr std::uintmax_t MAX_DATEI_BYTES = 1u << 30;

[[noreturn]] void fehler(const std::string& wo, const std::string& was) {
    simJsonFehler("Szenario", wo, was);
}

// A scenario's objects: errors say "Szenario: ...".
class Objekt : public SimJsonObjekt {
  public:
    Objekt(const Json& j, std::string wo) : SimJsonObjekt(j, std::move(wo), "Szenario") {}
    static std::int64_t ganzAus(const Json& w, const std::string& wo, std::int64_t min,
                                std::int64_t max) {
        return SimJsonObjekt::ganzAus(w, wo, min, max, "Szenario");
    }
};

std::vector<std::uint8_t> liesDatei(const std::string& pfad) {
    std::error_code ec;
    if (!std::filesystem::is_regular_file(pfad, ec)) {
        throw SzenarioFehler("Szenario: Datei " + pfad + " gibt es nicht");
    }
    const std::uintmax_t groesse = std::filesystem::file_size(pfad, ec);
    if (ec || groesse > MAX_DATEI_BYTES) {
        throw SzenarioFehler("Szenario: Datei " + pfad + " ist unlesbar oder groesser als 1 GiB");
    }
    std::ifstream ein(pfad, std::ios::binary);
    std::vector<std::uint8_t> bytes((std::istreambuf_iterator<char>(ein)),
                                    std::istreambuf_iterator<char>());
    if (!ein.good() && !ein.eof()) throw SzenarioFehler("Szenario: Datei " + pfad + " unlesbar");
    return bytes;
}

PlattformFehler leseFehler(const Json& j, const std::string& wo) {
    Objekt o(j, wo);
    const std::optional<std::int64_t> code =
        o.ganz("code", std::numeric_limits<long>::min(), std::numeric_limits<long>::max());
    if (!code) fehler(o.wo("code"), "fehlt");
    const std::string beschreibung = o.text("beschreibung").value_or("verweigert");
    const std::string domain = o.text("domain").value_or("sim");
    o.pruefeRest();
    return PlattformFehler(domain, static_cast<long>(*code), beschreibung);
}

struct Kontext {
    std::string basisOrdner;
    SzenarioDateiLeser leser;
};

// The signal of a source; sets the plan's signal, and rate, channels and length
// when a WAV file brings them and the source does not name them.
void leseSignal(Objekt& quelle, SimPlan& plan, std::optional<double>& wavRate,
                std::optional<std::uint32_t>& wavKanaele, std::optional<std::uint64_t>& wavFrames,
                double rateHz, const Kontext& k) {
    Objekt s(*quelle.hole("signal"), quelle.wo("signal"));
    const std::optional<std::string> art = s.text("art");
    if (!art) fehler(s.wo("art"), "fehlt");
    if (*art == "sinus") {
        const std::optional<double> f = s.zahl("frequenz", 0.0, 1e6);
        if (!f) fehler(s.wo("frequenz"), "fehlt");
        const double a = s.zahl("amplitude", 0.0, 1e3).value_or(0.5);
        plan.signal = SimSignal::sinus(*f, static_cast<float>(a), rateHz);
    } else if (*art == "stille") {
        plan.signal = SimSignal();
    } else if (*art == "rauschen") {
        const auto seed = s.ganz("seed", 0, std::numeric_limits<std::int64_t>::max()).value_or(1);
        const double a = s.zahl("amplitude", 0.0, 1e3).value_or(0.1);
        plan.signal = SimSignal::rauschen(static_cast<std::uint64_t>(seed), static_cast<float>(a));
    } else if (*art == "wav") {
        const std::optional<std::string> pfad = s.text("pfad");
        if (!pfad || pfad->empty()) fehler(s.wo("pfad"), "fehlt");
        std::filesystem::path voll(*pfad);
        if (voll.is_relative() && !k.basisOrdner.empty()) {
            voll = std::filesystem::path(k.basisOrdner) / voll;
        }
        const std::vector<std::uint8_t> bytes =
            k.leser ? k.leser(voll.string()) : liesDatei(voll.string());
        SimWav wav;
        try {
            wav = liesSimWav(bytes);
        } catch (const std::invalid_argument& e) {
            fehler(s.wo("pfad"), voll.string() + ": " + e.what());
        }
        wavRate = wav.rateHz;
        wavKanaele = static_cast<std::uint32_t>(wav.kanaele.size());
        wavFrames = wav.kanaele.front().size();
        plan.signal = SimSignal::proKanal(std::move(wav.kanaele));
    } else {
        fehler(s.wo("art"), "\"" + *art + "\" ist keine Signalart (sinus, stille, rauschen, wav)");
    }
    s.pruefeRest();
}

std::set<std::uint64_t> leseIndizes(Objekt& o, const std::string& schluessel) {
    std::set<std::uint64_t> indizes;
    const Json* liste = o.hole(schluessel);
    if (liste == nullptr) return indizes;
    if (!liste->is_array()) fehler(o.wo(schluessel), "muss eine Liste von Puffernummern sein");
    for (const Json& w : *liste) {
        indizes.insert(static_cast<std::uint64_t>(
            Objekt::ganzAus(w, o.wo(schluessel), 0, static_cast<std::int64_t>(MAX_FRAMES))));
    }
    return indizes;
}

SimQuelle leseQuelle(Objekt& o, std::uint32_t standardKanaele, std::uint32_t standardPufferFrames,
                     const Kontext& k) {
    SimPlan plan;
    const bool mitSignal = o.hat("signal");
    const std::optional<double> rate = o.zahl("rate", 1.0, 1e6);
    const std::optional<std::int64_t> kanaele = o.ganz("kanaele", 1, 16);
    std::optional<double> wavRate;
    std::optional<std::uint32_t> wavKanaele;
    std::optional<std::uint64_t> wavFrames;
    if (mitSignal) leseSignal(o, plan, wavRate, wavKanaele, wavFrames, rate.value_or(48000.0), k);
    if (wavRate && *wavRate > 1e6) fehler(o.wo("signal"), "WAV-Abtastrate ueber 1 MHz");

    plan.format.sampleRateHz = rate.value_or(wavRate.value_or(48000.0));
    plan.format.kanaele = kanaele
                              ? static_cast<std::uint32_t>(*kanaele)
                              : std::min<std::uint32_t>(wavKanaele.value_or(standardKanaele), 16);
    if (wavKanaele && *wavKanaele != 1 && *wavKanaele != plan.format.kanaele) {
        fehler(o.wo("kanaele"), "die WAV-Datei hat " + std::to_string(*wavKanaele) + " Kanaele");
    }
    const std::string sample = o.text("sample").value_or("float32");
    if (sample == "float32") {
        plan.format.art = SampleArt::float32;
    } else if (sample == "int16") {
        plan.format.art = SampleArt::int16;
    } else {
        fehler(o.wo("sample"), "muss \"float32\" oder \"int16\" sein");
    }
    plan.format.verschraenkt = o.wahr("verschraenkt").value_or(false);
    plan.pufferFrames = static_cast<std::uint32_t>(
        o.ganz("puffer_frames", 1, 262144).value_or(standardPufferFrames));

    const std::optional<double> dauer = o.zahl("dauer", 0.0, MAX_FRAMES);
    if (dauer) {
        const double frames = std::round(*dauer * plan.format.sampleRateHz);
        if (frames > MAX_FRAMES) fehler(o.wo("dauer"), "zu lang");
        plan.frames = static_cast<std::uint64_t>(frames);
    } else if (wavFrames) {
        plan.frames = *wavFrames;
    } else if (mitSignal) {
        fehler(o.wo("dauer"), "fehlt");
    } else {
        plan.frames = 0;  // no signal: the source delivers nothing
    }

    plan.startSekunden = o.zahl("start", -1e12, 1e12);
    plan.drift = o.zahl("drift", -0.5, 0.5).value_or(0.0);
    plan.weglassen = leseIndizes(o, "weglassen");
    plan.ohneZeit = leseIndizes(o, "ohne_zeit");
    if (const Json* versatz = o.hole("versatz")) {
        const std::string wo = o.wo("versatz");
        if (!versatz->is_array()) fehler(wo, "muss eine Liste von [Puffer, Sekunden] sein");
        for (const Json& paar : *versatz) {
            if (!paar.is_array() || paar.size() != 2 || !paar[1].is_number()) {
                fehler(wo, "jeder Eintrag muss [Puffer, Sekunden] sein");
            }
            const auto index =
                Objekt::ganzAus(paar[0], wo, 0, static_cast<std::int64_t>(MAX_FRAMES));
            const double sekunden = paar[1].get<double>();
            if (!std::isfinite(sekunden) || std::fabs(sekunden) > 1e6) {
                fehler(wo, "Versatz muss endlich und hoechstens 1e6 s sein");
            }
            plan.versatzSekunden[static_cast<std::uint64_t>(index)] = sekunden;
        }
    }

    SimQuelle quelle;
    try {
        quelle = SimQuelle::ausPlan(plan);
    } catch (const std::invalid_argument& e) {
        fehler(o.wo(), e.what());
    }
    const std::string tempo = o.text("tempo").value_or("schnell");
    if (tempo == "schnell") {
        quelle.tempo = SimTempo::schnell;
    } else if (tempo == "echtzeit") {
        quelle.tempo = SimTempo::echtzeit;
    } else {
        fehler(o.wo("tempo"), "muss \"schnell\" oder \"echtzeit\" sein");
    }
    const std::string danach = o.text("danach").value_or("ende");
    if (danach == "ende") {
        quelle.nachlauf = SimNachlauf::ende;
    } else if (danach == "wiederholen") {
        quelle.nachlauf = SimNachlauf::wiederholen;
    } else if (danach == "stille") {
        quelle.nachlauf = SimNachlauf::stille;
    } else {
        fehler(o.wo("danach"), "muss \"ende\", \"wiederholen\" oder \"stille\" sein");
    }
    return quelle;
}

std::vector<Display> leseDisplays(const Json& liste, const std::string& wo) {
    if (!liste.is_array() || liste.size() > 16)
        fehler(wo, "muss eine Liste von hoechstens 16 Displays sein");
    std::vector<Display> displays;
    for (std::size_t i = 0; i < liste.size(); ++i) {
        Objekt d(liste[i], wo + "[" + std::to_string(i) + "]");
        Display display;
        display.id = static_cast<std::uint32_t>(d.ganz("id", 0, 0xFFFFFFFFll).value_or(i + 1));
        display.breite = static_cast<std::int32_t>(d.ganz("breite", 0, 1 << 16).value_or(1920));
        display.hoehe = static_cast<std::int32_t>(d.ganz("hoehe", 0, 1 << 16).value_or(1080));
        d.pruefeRest();
        displays.push_back(display);
    }
    return displays;
}

TeilbaresFenster leseFenster(const Json& j, const std::string& wo) {
    Objekt o(j, wo);
    TeilbaresFenster f;
    const std::optional<std::int64_t> id = o.ganz("id", 0, 0xFFFFFFFFll);
    if (!id) fehler(o.wo("id"), "fehlt");
    f.id = static_cast<std::uint32_t>(*id);
    f.titel = o.text("titel");
    if (const Json* app = o.hole("app")) {
        Objekt a(*app, o.wo("app"));
        const std::optional<std::string> bundle = a.text("bundle");
        if (!bundle) fehler(a.wo("bundle"), "fehlt");
        FensterApp fensterApp{*bundle, a.text("name").value_or(""), std::nullopt};
        if (const auto pid = a.ganz("pid", 0, std::numeric_limits<std::int32_t>::max())) {
            fensterApp.pid = static_cast<std::int32_t>(*pid);
        }
        a.pruefeRest();
        f.app = std::move(fensterApp);
    }
    f.rahmen.x = o.zahl("x", -1e9, 1e9).value_or(0.0);
    f.rahmen.y = o.zahl("y", -1e9, 1e9).value_or(0.0);
    f.rahmen.breite = o.zahl("breite", 0.0, 1e9).value_or(800.0);
    f.rahmen.hoehe = o.zahl("hoehe", 0.0, 1e9).value_or(600.0);
    f.aufBildschirm = o.wahr("sichtbar").value_or(true);
    f.ebene = o.ganz("ebene", std::numeric_limits<std::int32_t>::min(),
                     std::numeric_limits<std::int32_t>::max())
                  .value_or(0);
    o.pruefeRest();
    return f;
}

SimFensterplan leseFensterplan(const Json& liste, const std::string& wo) {
    if (!liste.is_array() || liste.size() > 10000) {
        fehler(wo, "muss eine Liste von hoechstens 10000 Schritten sein");
    }
    SimFensterplan plan;
    for (std::size_t i = 0; i < liste.size(); ++i) {
        Objekt schritt(liste[i], wo + "[" + std::to_string(i) + "]");
        SimFensterSchritt s;
        s.abSekunden = schritt.zahl("ab", 0.0, 1e9).value_or(0.0);
        if (!plan.empty() && s.abSekunden < plan.back().abSekunden) {
            fehler(schritt.wo("ab"), "Schritte muessen nach \"ab\" aufsteigend sein");
        }
        const Json* fenster = schritt.hole("fenster");
        const Json* verweigern = schritt.hole("verweigern");
        if ((fenster == nullptr) == (verweigern == nullptr)) {
            fehler(schritt.wo(), "braucht genau eines von \"fenster\" und \"verweigern\"");
        }
        if (verweigern != nullptr) {
            s.fehler = leseFehler(*verweigern, schritt.wo("verweigern"));
        } else {
            if (!fenster->is_array() || fenster->size() > 10000) {
                fehler(schritt.wo("fenster"), "muss eine Liste von hoechstens 10000 Fenstern sein");
            }
            for (std::size_t k = 0; k < fenster->size(); ++k) {
                s.fenster.push_back(leseFenster(
                    (*fenster)[k], schritt.wo("fenster") + "[" + std::to_string(k) + "]"));
            }
        }
        schritt.pruefeRest();
        plan.push_back(std::move(s));
    }
    return plan;
}

}  // namespace

namespace {

// How long a source that stops by itself stays away.
void leseAusfall(Objekt& o, std::uint64_t& ausfallPuffer, int& neustartsVerweigert) {
    if (const auto n = o.ganz("ausfall_puffer", 1, static_cast<std::int64_t>(MAX_FRAMES))) {
        ausfallPuffer = static_cast<std::uint64_t>(*n);
    }
    if (const auto n = o.ganz("neustarts_verweigert", 0, 1000)) {
        neustartsVerweigert = static_cast<int>(*n);
    }
}

}  // namespace

SimSzenario parseSzenario(std::string_view text, const std::string& basisOrdner,
                          const SzenarioDateiLeser& leser) {
    Json j;
    try {
        j = Json::parse(text.begin(), text.end());
    } catch (const Json::exception& e) {
        throw SzenarioFehler(std::string("Szenario: kein gueltiges JSON: ") + e.what());
    }
    const Kontext k{basisOrdner, leser};
    SimSzenario szenario;
    Objekt wurzel(j, "szenario");

    std::optional<bool> uhrLaeuft;
    if (const Json* uhr = wurzel.hole("uhr")) {
        Objekt u(*uhr, "uhr");
        szenario.uhrStartSekunden = u.zahl("start", -1e12, 1e12).value_or(1000.0);
        uhrLaeuft = u.wahr("laeuft");
        szenario.unixStartMs =
            u.ganz("unix_ms", 0, 1'000'000'000'000'000).value_or(szenario.unixStartMs);
        u.pruefeRest();
    }

    if (const Json* mikro = wurzel.hole("mikrofon")) {
        Objekt m(*mikro, "mikrofon");
        szenario.mikrofon.quelle = leseQuelle(m, 1, 4800, k);
        szenario.mikrofon.keinGeraet = m.wahr("kein_geraet").value_or(false);
        if (const Json* f = m.hole("verweigern")) {
            szenario.mikrofon.startFehler = leseFehler(*f, m.wo("verweigern"));
        }
        szenario.mikrofon.startVerzoegerungSekunden =
            m.zahl("start_verzoegerung", 0.0, 3600.0).value_or(0.0);
        if (const auto n = m.ganz("stoppt_nach", 0, static_cast<std::int64_t>(MAX_FRAMES))) {
            szenario.mikrofon.stopptSelbstNach = static_cast<std::uint64_t>(*n);
        }
        if (const auto t = m.text("stop_fehler")) szenario.mikrofon.stopFehlerText = *t;
        leseAusfall(m, szenario.mikrofon.ausfallPuffer, szenario.mikrofon.neustartsVerweigert);
        m.pruefeRest();
    }

    if (const Json* system = wurzel.hole("system_audio")) {
        Objekt s(*system, "system_audio");
        szenario.systemAudio.quelle = leseQuelle(s, 2, 1024, k);
        if (const Json* d = s.hole("displays")) {
            szenario.systemAudio.displays = leseDisplays(*d, s.wo("displays"));
        }
        if (const Json* f = s.hole("inhalt_verweigern")) {
            szenario.systemAudio.inhaltFehler = leseFehler(*f, s.wo("inhalt_verweigern"));
        }
        if (const Json* f = s.hole("verweigern")) {
            szenario.systemAudio.startFehler = leseFehler(*f, s.wo("verweigern"));
        }
        if (const auto n = s.ganz("stoppt_nach", 0, static_cast<std::int64_t>(MAX_FRAMES))) {
            szenario.systemAudio.stopptSelbstNach = static_cast<std::uint64_t>(*n);
        }
        if (const auto t = s.text("stop_fehler")) szenario.systemAudio.stopFehlerText = *t;
        szenario.systemAudio.startVerzoegerungSekunden =
            s.zahl("start_verzoegerung", 0.0, 3600.0).value_or(0.0);
        leseAusfall(s, szenario.systemAudio.ausfallPuffer,
                    szenario.systemAudio.neustartsVerweigert);
        s.pruefeRest();
    }
    if (const Json* fenster = wurzel.hole("fenster")) {
        szenario.systemAudio.fenster = leseFensterplan(*fenster, "fenster");
    }
    wurzel.pruefeRest();

    // Real-time pacing only makes sense against a clock that runs with real time.
    szenario.uhrLaeuft =
        uhrLaeuft.value_or(szenario.mikrofon.quelle.tempo == SimTempo::echtzeit ||
                           szenario.systemAudio.quelle.tempo == SimTempo::echtzeit);
    return szenario;
}

SimSzenario ladeSzenario(const std::string& pfad) {
    const std::vector<std::uint8_t> bytes = liesDatei(pfad);
    const std::string ordner = std::filesystem::path(pfad).parent_path().string();
    return parseSzenario(
        std::string_view(reinterpret_cast<const char*>(bytes.data()), bytes.size()), ordner);
}

}  // namespace hoerspur
